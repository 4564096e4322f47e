#include "document/recovery_file.h"
#include "shell/recovery_dlg.h"
#include "shell_test_support.h"

#include <QDir>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QThread>

#include <cstdio>

using namespace shell_test;
using namespace test_pictures;

namespace {

// The editor's own startup, with recovery under `root`.
class RecoveryTest : public ShellTest
{
protected:
    COrvexApp& StartWithRecovery(const QString& root, CRecoveryTiming timing = {}, const QStringList& arguments = {})
    {
        m_app = std::make_unique<COrvexApp>(Settings());
        m_app->EnableRecovery(root, timing);
        m_app->InitInstance(arguments);
        QCoreApplication::processEvents();
        return *m_app;
    }
    // The clean exit, with nothing left to ask about.
    void Exit()
    {
        for (CDocumentHost* host : m_app->docTemplate().documents()) host->doc().SetModified(false);
        m_app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    int documentCount() const { return int(m_app->docTemplate().documents().size()); }
    COrvexDoc& doc(int index = 0) const { return m_app->docTemplate().documents().at(index)->doc(); }
    static QStringList Entries(const QString& folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    }
    // Answers the recovery dialog: ticks only `ticked` (all when empty), then clicks `choice`.
    static void AnswerRecovery(CRecoveryDlg::Choice choice, QStringList* listed = nullptr, QList<int> ticked = {})
    {
        WhenModal<CRecoveryDlg>([=](CRecoveryDlg* dialog) {
            for (int i = 0; i < dialog->list()->count(); ++i) {
                if (listed) listed->append(dialog->list()->item(i)->text());
                if (!ticked.isEmpty()) dialog->SetChosen(i, ticked.contains(i));
            }
            dialog->button(choice)->click();
        });
    }
};

// What the child does to its picture, written plainly: every byte inverted, then each row mirrored.
CImage InvertedAndMirrored(const CImage& picture)
{
    CImage expected = Copy(picture);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            for (int c = 0; c < 3; ++c)
                Pixel(expected, x, y)[c] = std::uint8_t(255 - Pixel(picture, picture.width() - 1 - x, y)[c]);
    return expected;
}

} // namespace

// The editor the kill test starts in a process of its own: it opens a picture, changes it, waits
// for its recovery file and then edits on until it is killed.
TEST(RecoveryChild, EditsUntilKilled)
{
    const QString root = qEnvironmentVariable("ORVEX_RECOVERY_CHILD_ROOT");
    if (root.isEmpty()) GTEST_SKIP() << "started by the kill test";
    COrvexApp app(std::make_unique<QSettings>(root + QStringLiteral("-child.ini"), QSettings::IniFormat));
    app.EnableRecovery(root, {60000, 2});
    app.InitInstance({qEnvironmentVariable("ORVEX_RECOVERY_CHILD_PICTURE")});
    ASSERT_NE(app.mainFrame()->activeView(), nullptr);
    app.mainFrame()->action(CommandId::Invert)->trigger();
    app.mainFrame()->action(CommandId::FlipHorizontal)->trigger();
    ASSERT_TRUE(WaitFor([&] { return app.recoveryKeeper()->writesDone() == 1; }, 30000));
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
}

// An editor killed with unsaved changes: a second editor running beside it leaves its files
// alone; the next start offers the document and recovers it with the same bytes, name and path,
// modified; a clean exit then leaves nothing behind.
TEST_F(RecoveryTest, KilledEditorsDocumentIsRecovered)
{
    const QString root = Path(QStringLiteral("recovery"));
    const QString picture = WritePicture(QStringLiteral("photo.png"), 37, 23, 3);
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ORVEX_RECOVERY_CHILD_ROOT"), root);
    environment.insert(QStringLiteral("ORVEX_RECOVERY_CHILD_PICTURE"), picture);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=RecoveryChild.*")});
    ASSERT_TRUE(child.waitForStarted());
    QByteArray output;
    ASSERT_TRUE(WaitFor(
        [&] {
            child.waitForReadyRead(20);
            output += child.readAllStandardOutput();
            return output.contains("ready\n") || child.state() == QProcess::NotRunning;
        },
        60000));
    ASSERT_TRUE(output.contains("ready\n")) << output.toStdString();
    QStringList childFiles;
    for (const QString& folder : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        for (const QString& file : QDir(QDir(root).filePath(folder)).entryList(QDir::Files))
            childFiles.append(folder + QLatin1Char('/') + file);
    ASSERT_EQ(childFiles.size(), 1) << childFiles.join(' ').toStdString();

    StartWithRecovery(root);
    EXPECT_EQ(documentCount(), 0);
    Exit();
    EXPECT_TRUE(QFileInfo::exists(QDir(root).filePath(childFiles[0])));

    child.kill(); // SIGKILL: nothing of the child's teardown runs
    ASSERT_TRUE(child.waitForFinished());

    QStringList listed;
    AnswerRecovery(CRecoveryDlg::Choice::Recover, &listed);
    StartWithRecovery(root);
    ASSERT_EQ(listed.size(), 1);
    EXPECT_TRUE(listed[0].startsWith(QStringLiteral("photo.png\n") + picture)) << listed[0].toStdString();
    ASSERT_EQ(documentCount(), 1);
    EXPECT_EQ(doc().pathName(), picture);
    EXPECT_EQ(doc().title(), QStringLiteral("photo.png"));
    EXPECT_TRUE(doc().modified());
    EXPECT_EQ(doc().history().count(), 1);
    EXPECT_TRUE(caption().startsWith(QStringLiteral("photo.png*"))) << caption().toStdString();
    CImage original;
    ASSERT_TRUE(LoadPicture(picture, original));
    EXPECT_TRUE(SamePixels(doc().picture(), InvertedAndMirrored(original)));
    // Recoverable again at once: the file moved into this editor's folder; the killed one's is gone.
    const QString adopted = m_app->RecoveryFileOf(*m_app->docTemplate().documents().front());
    EXPECT_TRUE(QFileInfo::exists(adopted));
    EXPECT_FALSE(QFileInfo::exists(QDir(root).filePath(childFiles[0].section(QLatin1Char('/'), 0, 0))));
    Exit();
    EXPECT_EQ(Entries(root), QStringList{});
}

// A damaged file is reported and moved aside; Later keeps the rest; unticked documents stay for
// the next start; an untitled document comes back under its name.
TEST_F(RecoveryTest, DamagedFilesLaterAndDiscard)
{
    const QString root = Path(QStringLiteral("recovery"));
    const QString gone = QDir(root).filePath(QStringLiteral("4242-gone"));
    ASSERT_TRUE(QDir().mkpath(gone));
    CRecoveryInfo untitled;
    untitled.name = QStringLiteral("Untitled-3");
    untitled.time = QDateTime::currentDateTimeUtc();
    CRecoveryInfo named = untitled;
    named.name = QStringLiteral("gone.png");
    named.path = Path(QStringLiteral("gone.png"));
    const QString file = QStringLiteral("document-%1") + kRecoverySuffix;
    ASSERT_TRUE(WriteRecoveryFile(QDir(gone).filePath(file.arg(1)), untitled, Pattern(9, 5, 1)));
    ASSERT_TRUE(WriteRecoveryFile(QDir(gone).filePath(file.arg(2)), named, Pattern(6, 7, 2)));
    ASSERT_TRUE(WriteRecoveryFile(QDir(gone).filePath(file.arg(3)), named, Pattern(6, 7, 3)));
    QFile damaged(QDir(gone).filePath(file.arg(3)));
    ASSERT_TRUE(damaged.resize(damaged.size() - 3));

    QString message;
    AnswerMessage(QMessageBox::Ok, &message);
    QStringList listed;
    AnswerRecovery(CRecoveryDlg::Choice::Later, &listed);
    StartWithRecovery(root);
    EXPECT_TRUE(message.contains(QStringLiteral("damaged"))) << message.toStdString();
    EXPECT_EQ(listed.size(), 2);
    EXPECT_EQ(documentCount(), 0);
    Exit();
    EXPECT_EQ(Entries(root),
              QStringList({QStringLiteral("4242-gone"), QStringLiteral("4242-gone-document-3.orvexrecovery.damaged")}));
    EXPECT_EQ(Entries(gone), QStringList({file.arg(1), file.arg(2)}));

    AnswerRecovery(CRecoveryDlg::Choice::Recover, nullptr, {0});
    StartWithRecovery(root);
    ASSERT_EQ(documentCount(), 1);
    EXPECT_EQ(doc().title(), QStringLiteral("Untitled-3"));
    EXPECT_TRUE(doc().pathName().isEmpty());
    EXPECT_TRUE(doc().modified());
    EXPECT_TRUE(SamePixels(doc().picture(), Pattern(9, 5, 1)));
    Exit();
    EXPECT_EQ(Entries(gone), QStringList{file.arg(2)});

    AnswerRecovery(CRecoveryDlg::Choice::Discard);
    StartWithRecovery(root);
    EXPECT_EQ(documentCount(), 0);
    Exit();
    EXPECT_EQ(Entries(root), QStringList{QStringLiteral("4242-gone-document-3.orvexrecovery.damaged")});
}

// Save, and "No" at the close prompt, remove the document's recovery file.
TEST_F(RecoveryTest, SaveAndDiscardRemoveTheFile)
{
    const QString root = Path(QStringLiteral("recovery"));
    const QString picture = WritePicture(QStringLiteral("saved.png"), 8, 6);
    StartWithRecovery(root, {60000, 1}, {picture});
    ASSERT_EQ(documentCount(), 1);
    const QString file = m_app->RecoveryFileOf(*m_app->docTemplate().documents().front());
    Run(CommandId::Invert);
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(file); }));
    Run(CommandId::FileSave);
    EXPECT_FALSE(doc().modified());
    ASSERT_TRUE(WaitFor([&] { return !QFileInfo::exists(file); }));

    Run(CommandId::Invert);
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(file); }));
    AnswerMessage(QMessageBox::No);
    Run(CommandId::FileClose);
    ASSERT_TRUE(WaitFor([&] { return documentCount() == 0; }));
    ASSERT_TRUE(WaitFor([&] { return !QFileInfo::exists(file); }));
    Exit();
    EXPECT_EQ(Entries(root), QStringList{});
}
