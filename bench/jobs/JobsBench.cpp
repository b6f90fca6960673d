// list() over 1,000 definition files (half XML, half binary) and a 1,000-row job table, beside
// the time it takes just to read the same files' bytes and the parts that list() is made of.

#include "LaunchctlManager.h"
#include "LaunchctlParsing.h"
#include "ProcessRunner.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <plist/plist.h>

#include <cstdlib>
#include <string>

namespace {

constexpr int jobCount = 1000;

struct Fixture {
    QTemporaryDir root;
    QStringList folders;
    QStringList files;

    Fixture()
    {
        for (const char* folder :
             {"home/Library/LaunchAgents", "Library/LaunchAgents", "Library/LaunchDaemons",
              "System/Library/LaunchAgents", "System/Library/LaunchDaemons"}) {
            folders.append(root.filePath(QString::fromLatin1(folder)));
            QDir().mkpath(folders.last());
        }
        QByteArray table = "PID\tStatus\tLabel\n";
        for (int i = 0; i < jobCount; ++i) {
            const QByteArray label = "com.bench.Job" + QByteArray::number((i * 7919) % jobCount);
            table += (i % 3 == 0 ? QByteArray::number(1000 + i) : QByteArray("-")) + '\t' +
                     QByteArray::number(i % 5 - 2) + '\t' + label + '\n';
            files.append(folders[i % 5] + '/' + QString::fromLatin1(label) + ".plist");
            write(files.last(), definition(label, i), i % 2 == 0);
        }
        writeBytes(root.filePath("table"), table);
        const QString tool = root.filePath("launchctl");
        writeBytes(tool,
                   "#!/bin/sh\nexec cat '" + QFile::encodeName(root.filePath("table")) + "'\n");
        QFile::setPermissions(tool, QFile::ReadOwner | QFile::ExeOwner);
        Platform::testing::setLaunchctlPath(tool);
        Platform::testing::setLaunchdFolders(folders);
    }

    static plist_t definition(const QByteArray& label, int i)
    {
        plist_t dict = plist_new_dict();
        plist_dict_set_item(dict, "Label", plist_new_string(label.constData()));
        plist_t args = plist_new_array();
        for (const char* arg : {"/usr/local/bin/tool", "--config", "/etc/tool.conf", "--quiet"})
            plist_array_append_item(args, plist_new_string(arg));
        plist_dict_set_item(dict, "ProgramArguments", args);
        plist_dict_set_item(dict, "RunAtLoad", plist_new_bool(1));
        plist_dict_set_item(dict, "StandardOutPath", plist_new_string("/tmp/tool.log"));
        if (i % 4 == 0) {
            plist_dict_set_item(dict, "StartInterval", plist_new_uint(3600));
        } else {
            plist_t entries = plist_new_array();
            for (int hour : {9, 21}) {
                plist_t entry = plist_new_dict();
                plist_dict_set_item(entry, "Weekday", plist_new_uint(static_cast<uint64_t>(i % 7)));
                plist_dict_set_item(entry, "Hour", plist_new_uint(static_cast<uint64_t>(hour)));
                plist_dict_set_item(entry, "Minute", plist_new_uint(30));
                plist_array_append_item(entries, entry);
            }
            plist_dict_set_item(dict, "StartCalendarInterval", entries);
        }
        return dict;
    }

    static void write(const QString& path, plist_t node, bool binary)
    {
        char* data = nullptr;
        uint32_t length = 0;
        (binary ? plist_to_bin : plist_to_xml)(node, &data, &length);
        writeBytes(path, QByteArray(data, static_cast<qsizetype>(length)));
        std::free(data);
        plist_free(node);
    }

    static void writeBytes(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            std::abort();
    }
};

Fixture& fixture()
{
    static Fixture instance;
    return instance;
}

void BM_ReadDefinitionBytes(benchmark::State& state)
{
    const QStringList& files = fixture().files;
    for (auto _ : state) {
        qint64 total = 0;
        for (const QString& path : files) {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                total += file.readAll().size();
        }
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_ReadDefinitionBytes)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void BM_ListJobs(benchmark::State& state)
{
    fixture();
    for (auto _ : state) {
        const QList<LaunchdJob> jobs = LaunchctlManager::list();
        if (jobs.size() != jobCount || !jobs.front().schedule) {
            state.SkipWithError("the listing did not find every job with its schedule");
            break;
        }
        benchmark::DoNotOptimize(jobs);
    }
}
BENCHMARK(BM_ListJobs)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The two halves of list(), for finding where its time goes.
void BM_DiscoverDefinitions(benchmark::State& state)
{
    fixture();
    for (auto _ : state)
        benchmark::DoNotOptimize(LaunchctlManager::discoverPlistPaths());
}
BENCHMARK(BM_DiscoverDefinitions)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void BM_RunLaunchctlList(benchmark::State& state)
{
    fixture();
    for (auto _ : state)
        benchmark::DoNotOptimize(ProcessRunner::run(Platform::launchctlPath(), {"list"}));
}
BENCHMARK(BM_RunLaunchctlList)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// What list() does after the tool and the folders: the table parsed and joined.
void BM_ParseAndJoin(benchmark::State& state)
{
    fixture();
    const ProcessRunner::Result table = ProcessRunner::run(Platform::launchctlPath(), {"list"});
    const QHash<QString, LaunchctlManager::PlistInfo> definitions =
        LaunchctlManager::discoverPlistPaths();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            LaunchctlManager::joinJobs(LaunchctlManager::parseJobTable(table.stdOut), definitions));
}
BENCHMARK(BM_ParseAndJoin)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The property-list library alone: decoding the 1,000 files' bytes, already in memory.
void BM_LibraryDecodeOnly(benchmark::State& state)
{
    QList<QByteArray> contents;
    for (const QString& path : fixture().files) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            contents.append(file.readAll());
    }
    for (auto _ : state) {
        for (const QByteArray& bytes : contents) {
            plist_t root = nullptr;
            plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
            benchmark::DoNotOptimize(root);
            plist_free(root);
        }
    }
}
BENCHMARK(BM_LibraryDecodeOnly)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
