#pragma once

#include "support/run_process.h"

#include <QTest>

namespace qarsilo::test {

/// Checks a command-line run on a stream, made by `/bin/sh -c command` with
/// $0 the tool and $1.. `args`: a stream command that fails ("exit 3" after
/// "sensor1: refused" on its standard error) must end the tool with 1 and
/// that text and no output; one that works, with 0 and `expected` (the
/// standard error may hold Qt's notes on its environment).
inline void verifyStreamRun(const QString& tool, const QString& command, const QStringList& args,
                            int exitCode, const QByteArray& expected) {
    const ProcessResult r = runProcess(QStringLiteral("/bin/sh"),
                                       QStringList{QStringLiteral("-c"), command, tool} + args);
    QVERIFY(r.exited);
    QCOMPARE(r.exitCode, exitCode);
    if (exitCode != 0) {
        QVERIFY2(r.err.contains("exit code 3)\nsensor1: refused"), r.err.constData());
        QVERIFY(r.out.isEmpty());
        return;
    }
    QCOMPARE(r.out, expected);
}

} // namespace qarsilo::test
