#pragma once
#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <vector>

// A private sound server for tests and benchmarks: PulseAudio in the
// foreground as our own child process, with a null sink as its only output,
// a socket of its own and a private runtime folder, so that it meets no other
// server on the machine. Runs as root too, headless, without D-Bus.
class NullSinkServer {
public:
    NullSinkServer() = default;
    ~NullSinkServer();
    NullSinkServer(const NullSinkServer &) = delete;
    NullSinkServer &operator=(const NullSinkServer &) = delete;

    // Starts the server and waits (at most 10 s) until it answers. On failure
    // `whyNot` says what was missing.
    bool start(QString *whyNot);
    // Stops exactly the server this object started.
    void stop();

    // "unix:FOLDER/pulse.sock": what PULSE_SERVER must hold for clients.
    QString address() const;
    // The environment for a client process (parec, pactl).
    QProcessEnvironment clientEnvironment() const;

    static constexpr char MonitorSource[] = "nullsink.monitor";

private:
    QTemporaryDir m_folder{QStringLiteral("/tmp/kelvaro-pulse-XXXXXX")};
    QProcess m_server;
};

// Records the null sink's output through parec: signed 16-bit mono samples at
// 44.1 kHz, kept in memory from start() on.
class SinkRecorder : public QObject {
    Q_OBJECT
public:
    static constexpr int SampleRate = 44100;

    explicit SinkRecorder(const NullSinkServer &server, QObject *parent = nullptr);
    ~SinkRecorder() override;

    bool start(QString *whyNot);
    void stop();

    qsizetype sampleCount() const { return qsizetype(m_samples.size()); }
    static qsizetype samples(int milliseconds) { return qsizetype(milliseconds) * SampleRate / 1000; }
    // The largest magnitude among samples [from, to) (to < 0: up to the end).
    int peak(qsizetype from, qsizetype to = -1) const;
    // The largest magnitude among the newest `count` samples.
    int recentPeak(qsizetype count) const { return peak(qMax<qsizetype>(0, sampleCount() - count)); }
    // Index of the first sample at or after `from` whose magnitude exceeds `threshold`; -1 if none yet.
    qsizetype firstAbove(int threshold, qsizetype from) const;

signals:
    void samplesArrived();

private:
    void readSamples();

    QProcess m_parec;
    QProcessEnvironment m_environment;
    QByteArray m_partial;
    std::vector<qint16> m_samples;
};
