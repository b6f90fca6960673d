#pragma once

#include <QtGlobal>

#include <functional>

// A few worker threads with large stacks, for work that recurses as deep as its input nests
// (decoding property lists). Workers are started when first needed and kept while there is work,
// so that back-to-back listings do not pay for new threads and cold allocator caches each time;
// a worker left idle for half a minute ends, which hands its stack back to the system.
namespace LargeStackPool {

// Bytes of stack each worker has.
inline constexpr size_t stackSize = 64 * 1024 * 1024;

// Runs work(0) ... work(count - 1) spread over the workers and returns when all are done. Calls
// from several threads at once share the workers; work must not itself call run(), or it may
// wait for turns queued behind its own. Should no worker start at all, the calling thread does
// the work.
void run(qsizetype count, const std::function<void(qsizetype)>& work);

} // namespace LargeStackPool
