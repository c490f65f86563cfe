#pragma once

#include <QStringList>

// Each sub-command takes the arguments after its name and returns the exit code.
int runDevices(const QStringList& args);
int runList(const QStringList& args);
int runDecode(const QStringList& args);
