// The program in a terminal without a display: a whole import with its backup, the way back, a
// trial run, the log; and every failure of the window with the same message and exit status on
// the command line.
#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>

#include "app/tests/window_test_support.h"
#include "run/user_side.h"

using app::frmProdukteImport;
using namespace window_test;

namespace {

QByteArray Bytes(const QString& file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

struct Result {
  int status = -1;
  QString out;
  QString err;
};

// Runs the program with `arguments` as in a terminal session over SSH: no display of any kind.
Result RunProgram(const QStringList& arguments) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.remove("QT_QPA_PLATFORM");
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(PI_BINARY_DIR "/app/produkte-import"), arguments);
  if (!p.waitForFinished(300000)) qFatal("produkte-import did not end");
  Result r;
  r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

QStringList LogLines() {
  QFile f(QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME")) + "/produkte-import/log");
  if (!f.open(QIODevice::ReadOnly)) return {};
  QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
  return lines;
}

void RemoveLog() {
  QFile::remove(QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME")) + "/produkte-import/log");
}

// The one message the window shows for a source chosen in its dialog, and its exit status.
std::pair<Message, int> RunWindow(const QString& source) {
  frmProdukteImport w;
  MessageAnswers messages;
  messages.Install(w);
  FileAnswers files;
  files.Install(w);
  files.Confirm(source);
  if (app::LoadAndShow(w)) {
    QTest::mouseClick(Control<QPushButton>(w, "cmdSaveFile"), Qt::LeftButton);
    QTest::mouseClick(Control<QPushButton>(w, "cmdImport"), Qt::LeftButton);
  }
  if (messages.messages().size() != 1) qFatal("the window showed not one message");
  return {messages.messages()[0], w.exitStatus()};
}

// Holds the target's lock file from another process, as Zentavo would, until destroyed.
class OtherHolder {
 public:
  explicit OtherHolder(const QString& lock_file) {
    process_.start(QStringLiteral("python3"), {"-c",
                                               "import fcntl,sys,time\n"
                                               "f=open(sys.argv[1],'a')\n"
                                               "fcntl.lockf(f,fcntl.LOCK_EX)\n"
                                               "print('ok',flush=True)\n"
                                               "time.sleep(600)\n",
                                               lock_file});
    ok_ = process_.waitForReadyRead(30000);
  }
  ~OtherHolder() {
    process_.kill();
    process_.waitForFinished();
  }
  bool ok() const { return ok_; }

 private:
  QProcess process_;
  bool ok_ = false;
};

}  // namespace

class CommandLineTest : public QObject {
  Q_OBJECT

 private slots:
  void importBackupRestoreAndTrialRun() {
    RemoveLog();
    RemoveSettings();  // --target needs none
    const QString folder = NewScratchFolder("cli-import");
    const QString target = folder + "/Kopie.mdb";
    QVERIFY(QFile::copy(Fixture("target.mdb"), target));
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    const QByteArray old_bytes = Bytes(target);

    // The trial run changes nothing and tells what an import would store.
    Result r = RunProgram({"--source", Fixture("source.mdb"), "--target", target, "--dry-run"});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.out.contains(QString::fromUtf8("Produktgruppen:                13")),
             qPrintable(r.out));
    QVERIFY(r.out.contains(QString::fromUtf8("Artikel:                       247")));
    QVERIFY(r.out.contains(QString::fromUtf8("Preiszeilen der Artikel:       2470")));
    QVERIFY(r.out.contains(QString::fromUtf8("Zusatzartikel:                 24")));
    QVERIFY(r.out.contains(QString::fromUtf8("Artikel ohne Produktgruppe in der Quelle:")));
    QCOMPARE(Bytes(target), old_bytes);
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);

    // The import: the window's completion message, the old file kept byte for byte.
    r = RunProgram({"--source", Fixture("source.mdb"), "--target", target});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.out.startsWith(QString::fromUtf8(run::kMessageCompleted)), qPrintable(r.out));
    QVERIFY(!r.err.contains("Warnung"));
    const QStringList backups =
        QDir(folder).entryList({QString::fromUtf8("Kopie vor Import *.mdb")}, QDir::Files);
    QCOMPARE(backups.size(), 1);
    const QString backup = folder + "/" + backups.front();
    QVERIFY(r.out.contains(backup));
    QCOMPARE(Bytes(backup), old_bytes);
    QCOMPARE(QFile::permissions(backup), QFile::permissions(target));
    const QByteArray imported = Bytes(target);
    QVERIFY(imported != old_bytes);

    // The way back brings the old bytes; the imported file is kept in turn.
    r = RunProgram({"--restore", "--target", target});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.out.contains(backup), qPrintable(r.out + r.err));
    QCOMPARE(Bytes(target), old_bytes);
    const QStringList kept =
        QDir(folder).entryList({QString::fromUtf8("Kopie vor Wiederherstellung *.mdb")});
    QCOMPARE(kept.size(), 1);
    QCOMPARE(Bytes(folder + "/" + kept.front()), imported);

    // Something that is not one of our backups is refused, with exit status 1.
    r = RunProgram({"--restore", Fixture("target.mdb"), "--target", target});
    QCOMPARE(r.status, run::kExitInvalidSource);
    QVERIFY2(r.err.contains(QString::fromUtf8("Die Sicherung kann nicht zurückgeholt werden")),
             qPrintable(r.err));
    QCOMPARE(Bytes(target), old_bytes);

    // One record per run, each with its outcome.
    const QStringList log = LogLines();
    QCOMPARE(log.size(), 4);
    QVERIFY(log[0].contains("\tprobelauf\tergebnis=abgeschlossen\tstatus=0\tfehler=0\t"));
    QVERIFY(log[0].contains("\tartikel=247\t"));
    QVERIFY2(log[1].contains("\timport\tergebnis=abgeschlossen"), qPrintable(log[1]));
    QVERIFY(log[1].contains("\tsicherung=" + backup + "\t"));
    QVERIFY(log[1].contains("\tquelle=" + Fixture("source.mdb") + "\t"));
    QVERIFY(log[1].contains("\tziel=" + target + "\t"));
    QVERIFY(log[2].contains("\twiederherstellung\tergebnis=abgeschlossen"));
    QVERIFY(log[3].contains(QString::fromUtf8("\twiederherstellung\tergebnis=ungültige Quelle")));
    QVERIFY(log[3].contains("\tfehler=5\t"));
  }

  // Without --target, the target the settings name, and its backup beside it.
  void importThroughTheSettings() {
    const QString folder = ScratchTarget("cli-settings");
    WriteSettings(folder);
    const QByteArray old_bytes = Bytes(folder + "DBZentavo.mdb");
    const Result r = RunProgram({"--source", Fixture("source.mdb")});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out.section('\n', 0, 0), QString::fromUtf8(run::kMessageCompleted));
    const QStringList backups = QDir(folder).entryList({"DBZentavo vor Import *.mdb"});
    QCOMPARE(backups.size(), 1);
    QVERIFY(QRegularExpression("^DBZentavo vor Import \\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d\\.mdb$")
                .match(backups.front())
                .hasMatch());
    QCOMPARE(Bytes(folder + backups.front()), old_bytes);
  }

  // Each way the window fails, and the same on the command line: message and exit status.
  void failuresAsInTheWindow_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("no setting") << "no setting";
    QTest::newRow("unreadable source") << "unreadable source";
    QTest::newRow("locked target") << "locked target";
    QTest::newRow("read-only target") << "read-only target";
    QTest::newRow("missing target") << "missing target";
  }

  void failuresAsInTheWindow() {
    QFETCH(QString, kind);
    const QString folder = ScratchTarget("cli-fail-" + kind.replace(' ', '-'));
    const QString target = folder + "DBZentavo.mdb";
    QString source = Fixture("source.mdb");
    std::unique_ptr<OtherHolder> holder;
    if (kind == "no-setting") {
      RemoveSettings();
    } else {
      WriteSettings(folder);
    }
    if (kind == "unreadable-source") source = Fixture("not-a-database.mdb");
    if (kind == "read-only-target") QFile::setPermissions(target, QFile::ReadOwner);
    if (kind == "missing-target") QFile::remove(target);
    if (kind == "locked-target") {
      holder = std::make_unique<OtherHolder>(folder + "DBZentavo.ldb");
      if (!holder->ok()) QSKIP("python3 cannot hold the lock file here");
    }
    const QByteArray before = Bytes(target);

    const auto [message, window_status] = RunWindow(source);
    QVERIFY(window_status != 0);
    const Result r = RunProgram({"--source", source});
    QCOMPARE(r.status, window_status);
    QCOMPARE(r.err.trimmed(), message.text);
    QVERIFY(r.out.isEmpty());
    QCOMPARE(Bytes(target), before);
    QVERIFY(QDir(folder).entryList({"* vor *"}).isEmpty());
  }

  // Several Wine prefixes record Zentavo: the window asks which, the command line refuses,
  // naming each with its database and how to choose, and changes nothing.
  void severalPrefixesAreRefusedByName() {
    RemoveSettings();
    const QString home = QString::fromLocal8Bit(qgetenv("HOME"));
    const QStringList prefixes = {home + "/.wine", home + "/.local/share/wineprefixes/kasse"};
    QByteArray registry = Bytes(Fixture("wine/case.reg"));
    QVERIFY(registry.contains("c:\\\\programme\\\\zentavo\\\\"));
    QStringList databases;
    for (const QString& prefix : prefixes) {
      QVERIFY(QDir().mkpath(prefix + "/drive_c/Programme/Zentavo"));
      QVERIFY(QDir().mkpath(prefix + "/dosdevices"));
      QVERIFY(QFile::link("../drive_c", prefix + "/dosdevices/c:"));
      QFile reg(prefix + "/user.reg");
      QVERIFY(reg.open(QIODevice::WriteOnly));
      reg.write(registry);
      reg.close();
      databases << prefix + "/drive_c/Programme/Zentavo/DBZentavo.mdb";
      QVERIFY(QFile::copy(Fixture("target.mdb"), databases.back()));
    }
    const Result r = RunProgram({"--source", Fixture("source.mdb")});
    for (const QString& prefix : prefixes) QDir(prefix).removeRecursively();
    QCOMPARE(r.status, run::kExitNotInstalled);
    QVERIFY(r.out.isEmpty());
    for (const QString& part : prefixes + QStringList{"--target", "WINEPREFIX="}) {
      QVERIFY2(r.err.contains(part), qPrintable(part + "\n" + r.err));
    }
  }

  void helpVersionAndWrongArguments_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("help") << QStringList{"--help"} << 0 << "Aufruf: produkte-import [OPTION]"
                          << "";
    QTest::newRow("-h") << QStringList{"-h"} << 0 << "--dry-run"
                        << "";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "produkte-import 1."
                             << "";
    QTest::newRow("unknown") << QStringList{"--quelle", "x"} << 64 << ""
                             << "produkte-import --help";
    QTest::newRow("no source") << QStringList{"--dry-run"} << 64 << ""
                               << "--source";
    QTest::newRow("source and restore") << QStringList{"--source", "a", "--restore"} << 64 << ""
                                        << "--restore";
    QTest::newRow("extra argument") << QStringList{"--source", "a", "b"} << 64 << ""
                                    << "'b'";
    QTest::newRow("missing value") << QStringList{"--source"} << 64 << ""
                                   << "source";
  }

  void helpVersionAndWrongArguments() {
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const Result r = RunProgram(arguments);
    QCOMPARE(r.status, status);
    if (!out.isEmpty()) QVERIFY2(r.out.contains(out), qPrintable(r.out));
    if (!err.isEmpty()) QVERIFY2(r.err.contains(err), qPrintable(r.err));
    if (status != 0) QVERIFY(r.out.isEmpty());
  }
};

PI_WINDOW_TEST_MAIN(CommandLineTest)

#include "command_line_test.moc"
