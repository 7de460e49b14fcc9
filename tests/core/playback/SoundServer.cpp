#include "SoundServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <cstdlib>
#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "the recorder reads s16le samples as they are");

namespace {

QString missingProgram(const QStringList &programs)
{
    for (const QString &program : programs) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            return program;
    }
    return {};
}

// Ends a child of ours: politely, then for good.
void stopChild(QProcess &child)
{
    if (child.state() == QProcess::NotRunning)
        return;
    child.terminate();
    if (!child.waitForFinished(5000)) {
        child.kill();
        child.waitForFinished(2000);
    }
}

} // namespace

NullSinkServer::~NullSinkServer()
{
    stop();
}

QString NullSinkServer::address() const
{
    return QStringLiteral("unix:") + m_folder.filePath(QStringLiteral("pulse.sock"));
}

QProcessEnvironment NullSinkServer::clientEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PULSE_SERVER"), address());
    environment.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_folder.path());
    return environment;
}

bool NullSinkServer::start(QString *whyNot)
{
    if (const QString missing = missingProgram({QStringLiteral("pulseaudio"), QStringLiteral("pactl")});
        !missing.isEmpty()) {
        *whyNot = missing + QStringLiteral(" is not installed");
        return false;
    }
    if (!m_folder.isValid()) {
        *whyNot = QStringLiteral("no temporary folder for the sound server");
        return false;
    }
    // Everything the server reads or writes stays in our folder: its runtime
    // files, its cookie, its (absent) configuration.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH"})
        environment.insert(QString::fromLatin1(name), m_folder.path());
    environment.remove(QStringLiteral("PULSE_SERVER"));
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    m_server.setProcessEnvironment(environment);
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    const QString socket = m_folder.filePath(QStringLiteral("pulse.sock"));
    m_server.start(QStringLiteral("pulseaudio"),
                   {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--use-pid-file=no"),
                    QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--disallow-exit"),
                    QStringLiteral("--realtime=no"), QStringLiteral("--high-priority=no"),
                    QStringLiteral("--log-target=stderr"), QStringLiteral("--log-level=error"),
                    QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=") + socket,
                    QStringLiteral("--load=module-null-sink sink_name=nullsink")});
    if (!m_server.waitForStarted(5000)) {
        *whyNot = QStringLiteral("pulseaudio did not start: ") + m_server.errorString();
        return false;
    }

    // Ready once a client gets an answer from it.
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_server.state() != QProcess::Running) {
            *whyNot = QStringLiteral("pulseaudio ended at once: ") + QString::fromLocal8Bit(m_server.readAll()).trimmed();
            return false;
        }
        if (QFile::exists(socket)) {
            QProcess probe;
            probe.setProcessEnvironment(clientEnvironment());
            probe.start(QStringLiteral("pactl"), {QStringLiteral("info")});
            if (probe.waitForFinished(3000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
                return true;
        }
        QThread::msleep(50);
    }
    *whyNot = QStringLiteral("pulseaudio did not answer within 10 s: ")
              + QString::fromLocal8Bit(m_server.readAll()).trimmed();
    stop();
    return false;
}

void NullSinkServer::stop()
{
    stopChild(m_server); // our own child, by its pid
}

SinkRecorder::SinkRecorder(const NullSinkServer &server, QObject *parent)
    : QObject(parent), m_environment(server.clientEnvironment())
{
    connect(&m_parec, &QProcess::readyReadStandardOutput, this, &SinkRecorder::readSamples);
}

SinkRecorder::~SinkRecorder()
{
    stop();
}

bool SinkRecorder::start(QString *whyNot)
{
    if (QStandardPaths::findExecutable(QStringLiteral("parec")).isEmpty()) {
        *whyNot = QStringLiteral("parec is not installed");
        return false;
    }
    m_parec.setProcessEnvironment(m_environment);
    m_parec.setProcessChannelMode(QProcess::SeparateChannels);
    m_parec.start(QStringLiteral("parec"),
                  {QStringLiteral("--raw"), QStringLiteral("-d"), QString::fromLatin1(NullSinkServer::MonitorSource),
                   QStringLiteral("--format=s16le"), QStringLiteral("--rate=%1").arg(SampleRate),
                   QStringLiteral("--channels=1"), QStringLiteral("--latency-msec=10")});
    if (!m_parec.waitForStarted(5000)) {
        *whyNot = QStringLiteral("parec did not start: ") + m_parec.errorString();
        return false;
    }
    return true;
}

void SinkRecorder::stop()
{
    stopChild(m_parec);
}

void SinkRecorder::readSamples()
{
    m_partial += m_parec.readAllStandardOutput();
    const qsizetype whole = m_partial.size() / 2;
    const size_t first = m_samples.size();
    m_samples.resize(first + size_t(whole));
    std::memcpy(m_samples.data() + first, m_partial.constData(), size_t(whole) * 2); // s16le on a little-endian host
    m_partial.remove(0, whole * 2);
    if (whole > 0)
        emit samplesArrived();
}

int SinkRecorder::peak(qsizetype from, qsizetype to) const
{
    const qsizetype end = to < 0 ? sampleCount() : qMin(to, sampleCount());
    int loudest = 0;
    for (qsizetype i = qMax<qsizetype>(0, from); i < end; ++i)
        loudest = qMax(loudest, std::abs(int(m_samples[size_t(i)])));
    return loudest;
}

qsizetype SinkRecorder::firstAbove(int threshold, qsizetype from) const
{
    for (qsizetype i = qMax<qsizetype>(0, from); i < sampleCount(); ++i) {
        if (std::abs(int(m_samples[size_t(i)])) > threshold)
            return i;
    }
    return -1;
}
