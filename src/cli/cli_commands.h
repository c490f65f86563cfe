#pragma once

#include <QStringList>

// Each sub-command takes the arguments after its name and returns the exit code.
int runDevices(const QStringList& args);
int runList(const QStringList& args);
int runDecode(const QStringList& args);
int runChart(const QStringList& args);
int runDiscover(const QStringList& args);
int chartMain(int argc, char* argv[]); // makes its own (GUI) application object, then runChart
