#pragma once
// A command timed as a whole through a given proxy, for the benchmarks that
// compare the command-line program with curl.
#include "shared/Median.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include <sys/resource.h>

// CPU seconds of the finished child processes so far.
inline double childCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Seconds `program` took with http_proxy set to `proxy` (and no no_proxy),
// or -1 when it failed or ran for more than ten minutes. `out` gets its
// stdout when given (otherwise it goes nowhere), `cpu` the CPU seconds it used.
inline double timedCommand(const QString &program, const QStringList &args, const QString &proxy,
                           QByteArray *out = nullptr, double *cpu = nullptr)
{
    const double cpuBefore = childCpuSeconds();
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("http_proxy"), proxy);
    environment.remove(QStringLiteral("no_proxy"));
    environment.remove(QStringLiteral("NO_PROXY"));
    process.setProcessEnvironment(environment);
    if (!out)
        process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer wall;
    wall.start();
    process.start(program, args);
    const bool finished = process.waitForStarted() && process.waitForFinished(600000);
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return -1;
    if (out)
        *out = process.readAllStandardOutput();
    if (cpu)
        *cpu = childCpuSeconds() - cpuBefore;
    return seconds;
}
