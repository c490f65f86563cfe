#pragma once

#include "core/capture/adapter_name.h"

#include <QStringList>

// Each sub-command takes the arguments after its name and returns the exit code.
int runDevices(const QStringList& args);
int runList(const QStringList& args);
int runDecode(const QStringList& args);
int runChart(const QStringList& args);
int runStats(const QStringList& args);
int runDiscover(const QStringList& args);
int runConversations(const QStringList& args);
int runEndpoints(const QStringList& args);
int chartMain(int argc, char* argv[]); // makes its own (GUI) application object, then runChart
int runBook(const QStringList& args);
/// argv[first..argc) as QStrings; bytes that are not UTF-8 survive (see native_path.h).
QStringList commandArguments(int argc, char* argv[], int first);
/// Keeps errno of a failed write of the standard output for finishOutput's message.
void rememberOutputError();
/// Flushes the standard output: a command whose output could not be written
/// exits non-zero with a message, whatever `code` it returned.
int finishOutput(const char* command, int code);
int runTrace(const QStringList& args);
/// The adapter name for a command's SOURCE: an existing file (whatever its
/// name), "file:PATH" or anything that looks like a path is a capture file;
/// "pipe:COMMAND" and "-" (the standard input) are streams; everything else
/// names a device. Says on the standard error when a "pipe:" argument is
/// read as the file of that name instead of run.
QString sourceAdapter(const QString& source);
qarsilo::SourceArgument sourceArgument(const QString& source);
/// For commands that read files and streams only: a SOURCE that would name a
/// device is taken as a file name.
qarsilo::AdapterName fileOrStreamSource(const QString& source);
