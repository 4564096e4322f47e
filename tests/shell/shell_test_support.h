#pragma once

#include "io/picture_codec.h"
#include "io/picture_file.h"
#include "shell/child_frame.h"
#include "shell/document_host.h"
#include "shell/main_frame.h"
#include "shell/orvex_app.h"
#include "shell/orvex_view.h"
#include "tests/test_pictures.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>

// Failure messages name a command by its number.
inline std::ostream& operator<<(std::ostream& out, CommandId id)
{
    return out << static_cast<int>(id);
}

namespace shell_test {

// Owns the answers still waiting for their dialog: a test that ends before its dialog came must
// not leave an answer that fires into the next test.
inline QObject& PendingAnswers()
{
    static QObject owner;
    return owner;
}

// Answers the next modal window of type T once it is on screen, from inside its own event loop.
template <class T>
void WhenModal(std::function<void(T*)> answer)
{
    auto* timer = new QTimer(&PendingAnswers());
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, answer = std::move(answer)] {
        auto* modal = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!modal || !modal->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        answer(modal);
    });
    timer->start();
}

inline void AnswerMessage(QMessageBox::StandardButton button, QString* text = nullptr)
{
    WhenModal<QMessageBox>([button, text](QMessageBox* box) {
        if (text) *text = box->text();
        box->button(button)->click();
    });
}

// Processes events until `done` holds or `ms` pass.
inline bool WaitFor(const std::function<bool()>& done, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(5);
    }
    return true;
}

// A running editor with its own settings file and a folder for pictures. A modal window left
// unanswered for a few seconds fails the test instead of hanging it.
class ShellTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_watchdog.setInterval(4000);
        QObject::connect(&m_watchdog, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal == m_lastModal) {
                ADD_FAILURE() << "unexpected modal window: " << modal->windowTitle().toStdString();
                modal->close();
            }
            m_lastModal = modal;
        });
        m_watchdog.start();
    }

    void TearDown() override
    {
        m_watchdog.stop();
        qDeleteAll(PendingAnswers().children());
        if (m_app && m_app->mainFrame()) {
            // Leave without prompts: nothing of a test is worth saving.
            for (CDocumentHost* host : m_app->docTemplate().documents()) host->doc().SetModified(false);
        }
        m_app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QString Path(const QString& name) const { return m_dir.filePath(name); }

    QString WritePicture(const QString& name, int width, int height, int seed = 0)
    {
        const CImage picture = test_pictures::Pattern(width, height, seed);
        const QString path = Path(name);
        EXPECT_TRUE(SavePicture(picture, path));
        return path;
    }

    std::unique_ptr<QSettings> Settings() const
    {
        return std::make_unique<QSettings>(Path(QStringLiteral("settings.ini")), QSettings::IniFormat);
    }

    COrvexApp& Start(const QStringList& arguments = {})
    {
        m_app = std::make_unique<COrvexApp>(Settings());
        m_app->InitInstance(arguments);
        m_app->mainFrame()->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(m_app->mainFrame()));
        QCoreApplication::processEvents();
        return *m_app;
    }

    CMainFrame& frame() const { return *m_app->mainFrame(); }
    COrvexView* view() const { return frame().activeView(); }
    int windowCount() const { return static_cast<int>(frame().mdiArea()->subWindowList().size()); }
    QString caption() const { return view() ? view()->frame()->windowTitle() : QString(); }
    void Run(CommandId id) { frame().action(id)->trigger(); }

    QTemporaryDir m_dir;
    std::unique_ptr<COrvexApp> m_app;
    QTimer m_watchdog;
    QWidget* m_lastModal = nullptr;
};

} // namespace shell_test
