#pragma once

#include <QDateTime>
#include <QDialog>
#include <QImage>
#include <QList>
#include <QString>

class QListWidget;
class QPushButton;

// The one dialog a start after an abnormal end shows: the documents that had unsaved changes,
// each with its name, where it came from, when it was last kept and a thumbnail, ticked. The
// buttons act on the ticked ones: "Recover" opens them, "Discard" deletes their recovery files,
// "Later" keeps every one for the next start. Documents left unticked stay for the next start too.
class CRecoveryDlg : public QDialog
{
    Q_OBJECT

public:
    struct CEntry
    {
        QString name;
        QString path; // empty for a document that had no file
        QDateTime time;
        QImage thumbnail;
    };
    enum class Choice { Recover, Discard, Later };

    CRecoveryDlg(const QList<CEntry>& entries, QWidget* parent = nullptr);

    Choice choice() const { return m_choice; }
    // Whether entry `index` is ticked.
    bool IsChosen(int index) const;
    void SetChosen(int index, bool chosen);
    QListWidget* list() const { return m_list; }
    QPushButton* button(Choice choice) const;

    // The thumbnail's longest side, in pixels.
    static constexpr int kThumbnailSize = 96;

private:
    void Finish(Choice choice);

    QListWidget* m_list;
    QPushButton* m_buttons[3] = {nullptr, nullptr, nullptr};
    Choice m_choice = Choice::Later;
};
