#include "dialogs/canvas_size_dlg.h"

#include "core/operation_table.h"
#include "dialogs/image_size_dlg.h"
#include "dialogs/number_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Compass names of the arrow icons by direction (column step, row step), each -1, 0 or 1.
QString ArrowName(int dc, int dr)
{
    static const char* const names[3][3] = {{"arrow_nw", "arrow_n", "arrow_ne"},
                                            {"arrow_w", "", "arrow_e"},
                                            {"arrow_sw", "arrow_s", "arrow_se"}};
    return QString::fromLatin1(names[dr + 1][dc + 1]);
}

// The largest side the canvas operation takes.
int MaxSide()
{
    const COperation* canvas = FindOperation("CanvasSize");
    return canvas ? static_cast<int>(canvas->params.front().max) : INT_MAX;
}

QString BelowMinimumText(int bound)
{
    return QString::asprintf("An integer greater than %d is required.", bound);
}

} // namespace

CCanvasSizeDlg::CCanvasSizeDlg(int width, int height, QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Canvas Size"), parent, std::move(start)), m_currentW(width), m_currentH(height),
      m_editedWidth(width), m_editedHeight(height)
{
    BindOperation("CanvasSize");
    // The dialog opens on the picture's own size.
    SetValue("width", width);
    SetValue("height", height);
    QVBoxLayout* layout = extraArea();

    m_currentGroup = new QGroupBox(QStringLiteral("Current Size:"), this);
    auto* current = new QVBoxLayout(m_currentGroup);
    m_currentWidth = new QLineEdit(QString::asprintf("Width:  %d pixels", width), m_currentGroup);
    m_currentHeight = new QLineEdit(QString::asprintf("Height:  %d pixels", height), m_currentGroup);
    for (QLineEdit* box : {m_currentWidth, m_currentHeight}) {
        box->setReadOnly(true);
        box->setFrame(false);
        box->setFocusPolicy(Qt::NoFocus);
        current->addWidget(box);
    }
    layout->addWidget(m_currentGroup);

    m_newGroup = new QGroupBox(QStringLiteral("New Size:"), this);
    auto* grid = new QGridLayout(m_newGroup);
    m_widthBox = new QLineEdit(QString::asprintf("%d", width), m_newGroup);
    m_heightBox = new QLineEdit(QString::asprintf("%d", height), m_newGroup);
    grid->addWidget(new QLabel(QStringLiteral("Width:"), m_newGroup), 0, 0);
    grid->addWidget(m_widthBox, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("pixels"), m_newGroup), 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Height:"), m_newGroup), 1, 0);
    grid->addWidget(m_heightBox, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("pixels"), m_newGroup), 1, 2);
    m_relative = new QCheckBox(QStringLiteral("Relative"), m_newGroup);
    grid->addWidget(m_relative, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Anchor:"), m_newGroup), 3, 0, Qt::AlignTop);
    auto* anchors = new QGridLayout;
    anchors->setSpacing(2);
    for (int i = 0; i < 9; ++i) {
        auto* button = new QToolButton(m_newGroup);
        button->setFixedSize(28, 28);
        button->setIconSize(QSize(20, 20));
        button->setFocusPolicy(Qt::StrongFocus);
        anchors->addWidget(button, i / 3, i % 3);
        m_buttons[static_cast<std::size_t>(i)] = button;
        connect(button, &QToolButton::clicked, this, [this, i] {
            SetValue("anchor", kAnchors[static_cast<std::size_t>(i)]);
            Refresh();
        });
    }
    grid->addLayout(anchors, 3, 1, 1, 2, Qt::AlignLeft);
    layout->addWidget(m_newGroup);

    m_currentGroup->setTitle(QStringLiteral("Current Size: %1").arg(SizeText(width, height, true)));
    Refresh();
    m_widthBox->selectAll();
    m_widthBox->setFocus();

    numberBoxes().Add(m_widthBox, Rule(true), [this](double typed) { OnBoxChanged(true, static_cast<int>(typed)); });
    numberBoxes().Add(m_heightBox, Rule(false), [this](double typed) { OnBoxChanged(false, static_cast<int>(typed)); });
    connect(m_relative, &QCheckBox::clicked, this, &CCanvasSizeDlg::OnRelativeClicked);
    m_widthBox->installEventFilter(this);
    m_heightBox->installEventFilter(this);
}

CNumberRule CCanvasSizeDlg::Rule(bool horizontal) const
{
    // Relative: the change of the side, which may take it down to 1 pixel.
    const int base = m_relative->isChecked() ? (horizontal ? m_currentW : m_currentH) : 0;
    return CNumberRule::Whole(1.0 - base, static_cast<double>(MaxSide()) - base).BelowMinimumSays(BelowMinimumText(-base));
}

void CCanvasSizeDlg::OnBoxChanged(bool horizontal, int typed)
{
    const long long base = m_relative->isChecked() ? (horizontal ? m_currentW : m_currentH) : 0;
    (horizontal ? m_editedWidth : m_editedHeight) = static_cast<int>(typed + base);
    Refresh();
}

void CCanvasSizeDlg::OnRelativeClicked(bool checked)
{
    const long long w = checked ? static_cast<long long>(m_editedWidth) - m_currentW : m_editedWidth;
    const long long h = checked ? static_cast<long long>(m_editedHeight) - m_currentH : m_editedHeight;
    const int keepW = m_editedWidth;
    const int keepH = m_editedHeight;
    numberBoxes().SetRule(m_widthBox, Rule(true));
    numberBoxes().SetRule(m_heightBox, Rule(false));
    m_widthBox->setText(QString::asprintf("%lld", w));
    m_heightBox->setText(QString::asprintf("%lld", h));
    // The edited size is what it was; only the way it is shown changed.
    m_editedWidth = keepW;
    m_editedHeight = keepH;
    Refresh();
}

void CCanvasSizeDlg::Correct(bool horizontal)
{
    if (m_correcting) return;
    QLineEdit* box = horizontal ? m_widthBox : m_heightBox;
    // Only a readable number below the smallest size is put right; anything else stays as typed,
    // framed, with its reason, for the user to mend.
    const CNumberRule rule = Rule(horizontal);
    const CNumberReading typed = ReadNumber(box->text(), CNumberRule::Whole(-HUGE_VAL, HUGE_VAL), box->locale());
    if (!typed.value || *typed.value >= rule.minimum) return;
    m_correcting = true;
    const int current = horizontal ? m_currentW : m_currentH;
    const bool relative = m_relative->isChecked();
    QMessageBox message(QMessageBox::Warning, QApplication::applicationDisplayName(),
                        QString::asprintf("An integer greater than %d is required.\nClosest value inserted.",
                                          relative ? -current : 0),
                        QMessageBox::Ok, this);
    message.exec();
    box->setText(QString::asprintf("%d", relative ? 1 - current : 1));
    m_correcting = false;
    Refresh();
}

bool CCanvasSizeDlg::eventFilter(QObject* watched, QEvent* event)
{
    // Only a move of the focus inside the dialog counts: the window losing the activation (another
    // program, the message box itself) is not the user leaving the box.
    if (event->type() == QEvent::FocusOut && (watched == m_widthBox || watched == m_heightBox) &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::ActiveWindowFocusReason &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
        const bool horizontal = watched == m_widthBox;
        Correct(horizontal);
        Refresh();
    }
    return QDialog::eventFilter(watched, event);
}

void CCanvasSizeDlg::Refresh()
{
    m_newGroup->setTitle(QStringLiteral("New Size: %1").arg(SizeText(m_editedWidth, m_editedHeight, true)));
    int anchorIndex = 4;
    for (int i = 0; i < 9; ++i)
        if (kAnchors[static_cast<std::size_t>(i)] == anchor()) anchorIndex = i;
    const int ac = anchorIndex % 3;
    const int ar = anchorIndex / 3;
    const bool wider = m_editedWidth >= m_currentW;
    const bool taller = m_editedHeight >= m_currentH;
    for (int i = 0; i < 9; ++i) {
        const int dc = i % 3 - ac;
        const int dr = i / 3 - ar;
        QString name;
        if (i == anchorIndex) {
            name = QStringLiteral("anchor");
        } else if (dc >= -1 && dc <= 1 && dr >= -1 && dr <= 1) {
            const bool away = dr == 0 ? wider : dc == 0 ? taller : wider && taller;
            name = away ? ArrowName(dc, dr) : ArrowName(-dc, -dr);
        }
        m_iconNames[static_cast<std::size_t>(i)] = name;
        m_buttons[static_cast<std::size_t>(i)]->setIcon(
            name.isEmpty() ? QIcon() : QIcon(QStringLiteral(":/icons/%1.svg").arg(name)));
    }
}

void CCanvasSizeDlg::accept()
{
    // Enter in a box closes the dialog without the box losing the focus: correct here too, so that
    // no size below 1 leaves the dialog. A box that still holds no size keeps the dialog open.
    Correct(true);
    Correct(false);
    if (!numberBoxes().allValid()) return;
    SetValue("width", m_editedWidth);
    SetValue("height", m_editedHeight);
    CParamDialog::accept();
}
