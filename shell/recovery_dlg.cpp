#include "shell/recovery_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

CRecoveryDlg::CRecoveryDlg(const QList<CEntry>& entries, QWidget* parent) : QDialog(parent), m_list(new QListWidget)
{
    setWindowTitle(QStringLiteral("Recover Documents"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QStringLiteral("Orvex did not close properly last time. These documents had changes "
                                           "that were not saved:"));
    text->setWordWrap(true);
    layout->addWidget(text);

    m_list->setIconSize(QSize(kThumbnailSize, kThumbnailSize));
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    for (const CEntry& entry : entries) {
        const QString when = QLocale().toString(entry.time.toLocalTime(), QLocale::ShortFormat);
        const QString where = entry.path.isEmpty() ? QStringLiteral("not saved yet") : entry.path;
        auto* item = new QListWidgetItem(QStringLiteral("%1\n%2\n%3").arg(entry.name, where, when), m_list);
        item->setIcon(QIcon(QPixmap::fromImage(entry.thumbnail)));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
        item->setToolTip(where);
    }
    m_list->setMinimumWidth(460);
    m_list->setMinimumHeight(std::min<int>(int(entries.size()), 4) * (kThumbnailSize + 12) + 8);
    layout->addWidget(m_list);

    auto* buttons = new QDialogButtonBox;
    const QString captions[3] = {QStringLiteral("Recover"), QStringLiteral("Discard"), QStringLiteral("Later")};
    const QDialogButtonBox::ButtonRole roles[3] = {QDialogButtonBox::AcceptRole, QDialogButtonBox::DestructiveRole,
                                                   QDialogButtonBox::RejectRole};
    for (int i = 0; i < 3; ++i) {
        m_buttons[i] = buttons->addButton(captions[i], roles[i]);
        const auto choice = static_cast<Choice>(i);
        connect(m_buttons[i], &QPushButton::clicked, this, [this, choice] { Finish(choice); });
    }
    m_buttons[0]->setDefault(true);
    layout->addWidget(buttons);
    // A choice needs a ticked document, except Later, which keeps everything.
    const auto follow = [this] {
        bool any = false;
        for (int i = 0; i < m_list->count(); ++i) any = any || IsChosen(i);
        m_buttons[0]->setEnabled(any);
        m_buttons[1]->setEnabled(any);
    };
    connect(m_list, &QListWidget::itemChanged, this, follow);
}

bool CRecoveryDlg::IsChosen(int index) const
{
    const QListWidgetItem* item = m_list->item(index);
    return item && item->checkState() == Qt::Checked;
}

void CRecoveryDlg::SetChosen(int index, bool chosen)
{
    if (QListWidgetItem* item = m_list->item(index)) item->setCheckState(chosen ? Qt::Checked : Qt::Unchecked);
}

QPushButton* CRecoveryDlg::button(Choice choice) const
{
    return m_buttons[static_cast<int>(choice)];
}

void CRecoveryDlg::Finish(Choice choice)
{
    m_choice = choice;
    // Closing the dialog any other way (Escape, the title bar) is Later: nothing is lost.
    if (choice == Choice::Later) reject();
    else accept();
}
