#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Texts that other people wrote (process names, command lines, paths, job labels, unit
// descriptions) made safe to show: nothing in them may hide or reorder what is drawn around it.
namespace SafeText {

// The text with every control character (C0, DEL, C1) and every character that changes the
// direction of the text around it (the bidirectional embeddings, overrides and isolates, and the
// directional marks) written as a visible escape: "\n", "\t", "\r", "\x07", "\u202E". Everything
// else stays as it is.
QString visible(QStringView text);

// Bytes from the system (a file name, a command line) read as UTF-8, with every byte that is not
// part of valid UTF-8 written as "\xNN". Valid text comes back unchanged.
QString fromBytes(QByteArrayView bytes);

} // namespace SafeText
