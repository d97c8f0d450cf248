// Termination signals end the desktop program and lumora-cli the way the close
// box does, whatever the program is doing: the programs run as children here.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <vector>

#include "acquisition/frame_encoder.h"
#include "platform/udp_socket.h"
#include "settings/settings_store.h"

using namespace lumora;

namespace {

// Binds `socket` to a free port of four digits (the port box of older
// settings files holds no more) and returns it; 0 when none is free.
int BindSmallPort(UdpSocket& socket) {
    for (int p = 9300; p < 10000; ++p) {
        UdpSocket probe;
        if (probe.Create() && probe.Bind(static_cast<uint16_t>(p))) {
            socket = std::move(probe);
            return p;
        }
    }
    return 0;
}

// Whether some socket is bound to UDP port `port` (from the kernel's table,
// so the program's socket is not disturbed).
bool UdpPortInUse(int port) {
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly)) return false;
    const QByteArray needle = QStringLiteral(":%1 ").arg(port, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
    for (const QByteArray& line : table.readAll().split('\n')) {
        QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 1 && (fields[1] + ' ').endsWith(needle)) return true;
    }
    return false;
}

void StartDesktop(QProcess& program, const QString& dir) {
    program.setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(LUMORA_GUI_PATH), {});
}

// Sends `count` frames and returns the size of one.
qsizetype SendFrames(int port, int count) {
    UdpSocket sender;
    if (!sender.Create()) return 0;
    std::vector<uint8_t> frame;
    TrailerFields trailer;
    for (int i = 1; i <= count; ++i) {
        trailer.counter = i;
        EncodeWavelengthFrame(frame, {2, 2}, {1, 2, 3, 4}, &trailer);
        if (!sender.SendTo(frame.data(), frame.size(), "127.0.0.1", static_cast<uint16_t>(port))) return 0;
    }
    return static_cast<qsizetype>(frame.size());
}

// The one recording in dir, which must hold `records` whole records.
void CheckRecording(const QString& dir, const QString& pattern, int records, qsizetype recordSize) {
    QStringList files = QDir(dir).entryList({pattern}, QDir::Files);
    QCOMPARE(files.size(), 1);
    QFile file(QDir(dir).filePath(files[0]));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.size(), qsizetype(5 + records * recordSize));
}

}  // namespace

class ProgramSignalsTest : public QObject {
    Q_OBJECT
private slots:
    void signalsEndTheProgramsAsTheCloseBoxDoes() {
        // 1. SIGTERM while the start-up message box is up: AutoOpen on a
        // port another socket holds.
        {
            QTemporaryDir dir;
            UdpSocket holder;
            const int busy = BindSmallPort(holder);
            QVERIFY(busy > 0);
            const QString ini = dir.filePath("Lumora.ini");
            {
                SettingsStore store(ini.toStdString());
                store.SetString("Net", "Port", std::to_string(busy));
                store.SetString("Net", "AutoOpen", "1");
            }
            QProcess program;
            StartDesktop(program, dir.path());
            QVERIFY(program.waitForStarted(10000));
            // Start-up writes the command port back just before it opens the
            // data port and shows the box; a second later the box is up.
            QTRY_VERIFY_WITH_TIMEOUT(SettingsStore(ini.toStdString()).GetString("Net", "CmdPort", "") != "", 15000);
            QTest::qWait(1000);
            QCOMPARE(program.state(), QProcess::Running);
            ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
            const bool ended = program.waitForFinished(15000);
            if (!ended) {
                program.kill();
                program.waitForFinished(5000);
            }
            QVERIFY2(ended, "the program lived on after SIGTERM with its start-up box up");
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        }

        // 2. SIGHUP while the desktop records: the file ends on a whole record.
        {
            QTemporaryDir dir;
            UdpSocket probe;
            const int port = BindSmallPort(probe);
            QVERIFY(port > 0);
            probe.Close();
            {
                SettingsStore store(dir.filePath("Lumora.ini").toStdString());
                store.SetString("Net", "Port", std::to_string(port));
                store.SetString("Net", "AutoOpen", "1");
                store.SetString("DataSave", "Enable", "1");
                store.SetString("DataSave", "FileName", "hup");
            }
            QProcess program;
            StartDesktop(program, dir.path());
            QVERIFY(program.waitForStarted(10000));
            QTRY_VERIFY_WITH_TIMEOUT(UdpPortInUse(port), 15000);
            const qsizetype size = SendFrames(port, 20);
            QVERIFY(size > 0);
            QTest::qWait(500);
            ::kill(static_cast<pid_t>(program.processId()), SIGHUP);
            QVERIFY(program.waitForFinished(15000));
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            // Every frame but the last, which waits for the next frame's marker.
            CheckRecording(dir.path(), "hup-*.dat", 19, size);
        }

        // 3. SIGHUP ends lumora-cli record the same way.
        {
            QTemporaryDir dir;
            QProcess record;
            record.setWorkingDirectory(dir.path());
            record.start(QStringLiteral(LUMORA_CLI_PATH),
                         {"record", "--port", "0", "--dir", dir.path(), "--prefix", "hup", "--seconds", "60"});
            QVERIFY(record.waitForStarted(10000));
            QTRY_VERIFY_WITH_TIMEOUT(record.canReadLine(), 10000);
            const QByteArray line = record.readLine().trimmed();
            QVERIFY2(line.startsWith("listening on UDP port "), line.constData());
            const int port = line.mid(22).toInt();
            const qsizetype size = SendFrames(port, 20);
            QVERIFY(size > 0);
            QTest::qWait(500);
            ::kill(static_cast<pid_t>(record.processId()), SIGHUP);
            QVERIFY(record.waitForFinished(15000));
            QCOMPARE(record.exitStatus(), QProcess::NormalExit);
            QCOMPARE(record.exitCode(), 0);
            CheckRecording(dir.path(), "hup-*.dat", 19, size);
        }
    }
};

QTEST_GUILESS_MAIN(ProgramSignalsTest)
#include "program_signals_test.moc"
