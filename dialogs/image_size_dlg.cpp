#include "dialogs/image_size_dlg.h"

#include "core/operation_table.h"
#include "dialogs/dialog_settings.h"
#include "dialogs/number_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSettings>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cmath>

QString SizeText(long long width, long long height, bool negativeIsUnknown)
{
    if (width * height > 715827882LL || (negativeIsUnknown && (width < 0 || height < 0))) return QStringLiteral("--");
    static const char* const units[] = {" bytes", "K", "M", "G"};
    double bytes = static_cast<double>(width * height) * 3;
    int unit = 0;
    while (bytes > 1024 && unit < 3) {
        bytes /= 1024;
        ++unit;
    }
    const bool whole = bytes == std::floor(bytes);
    return QString::asprintf(whole ? "%.0f%s" : "%.2f%s", bytes, units[unit]);
}

namespace {

// trunc(value) within the range of int.
int TruncateToInt(double value)
{
    if (!(value == value)) return 0;
    return static_cast<int>(std::clamp(value, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

void Warn(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(), text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace

namespace {

constexpr char kMethods[] = {'n', 'b', 'l'};

const QString kUnitKey = QStringLiteral("Image Size/Unit");
const QString kMethodKey = QStringLiteral("Image Size/Method");
const QString kPercentUnit = QStringLiteral("percent");
const QString kPixelsUnit = QStringLiteral("pixels");

// A percentage as a box shows it: up to two decimals, none when whole.
QString PercentText(double percent)
{
    return QString::number(std::round(percent * 100.0) / 100.0, 'f', 2).remove(QRegularExpression("\\.?0+$"));
}

} // namespace

int CImageSizeDlg::PixelsFromPercent(int given, double percent)
{
    const double pixels = std::round(static_cast<double>(given) * percent / 100.0);
    return std::max(1, TruncateToInt(pixels));
}

bool CImageSizeDlg::inPercent() const
{
    return m_units && m_units->currentIndex() == 1;
}

CImageSizeDlg::CImageSizeDlg(int width, int height, QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Image Size"), parent, std::move(start)), m_givenWidth(width),
      m_givenHeight(height), m_ratio(static_cast<double>(width) / height), m_editedWidth(width), m_editedHeight(height)
{
    BindOperation("ResizeImage");
    // The dialog opens on the picture's own size.
    SetValue("width", width);
    SetValue("height", height);
    const char startMethod = static_cast<char>(static_cast<int>(AddValue("method")));
    QVBoxLayout* layout = extraArea();
    m_group = new QGroupBox(QStringLiteral("Pixel Dimentions:"), this);
    auto* grid = new QGridLayout(m_group);
    m_widthBox = new QLineEdit(m_group);
    m_heightBox = new QLineEdit(m_group);
    grid->addWidget(new QLabel(QStringLiteral("Width:"), m_group), 0, 0);
    grid->addWidget(m_widthBox, 0, 1);
    m_widthUnit = new QLabel(QStringLiteral("pixels"), m_group);
    grid->addWidget(m_widthUnit, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Height:"), m_group), 1, 0);
    grid->addWidget(m_heightBox, 1, 1);
    m_heightUnit = new QLabel(QStringLiteral("pixels"), m_group);
    grid->addWidget(m_heightUnit, 1, 2);
    // One unit for both sides, beside the two boxes.
    m_units = new QComboBox(m_group);
    m_units->addItems({QStringLiteral("Pixels"), QStringLiteral("Percent")});
    grid->addWidget(m_units, 0, 3, 2, 1, Qt::AlignVCenter);
    layout->addWidget(m_group);
    m_constrain = new QCheckBox(QStringLiteral("Constrain proportions"), this);
    layout->addWidget(m_constrain);
    auto* methodRow = new QHBoxLayout;
    methodRow->addWidget(new QLabel(QStringLiteral("Resample image:"), this));
    m_methods = new QComboBox(this);
    m_methods->addItems({QStringLiteral("Nearest Neighbor"), QStringLiteral("Bilinear"), QStringLiteral("Liquid")});
    methodRow->addWidget(m_methods, 1);
    layout->addLayout(methodRow);

    // Initialisation: the boxes show the given size without reacting to themselves.
    m_busy = true;
    m_widthBox->setText(QString::asprintf("%d", width));
    m_heightBox->setText(QString::asprintf("%d", height));
    m_busy = false;
    m_constrain->setChecked(true);
    // The method chosen last time, where there is one, in place of the start method.
    char method = startMethod;
    const QSettings* settings = DialogSettings();
    if (settings) {
        const QString remembered = settings->value(kMethodKey).toString();
        if (remembered.size() == 1 &&
            std::find(std::begin(kMethods), std::end(kMethods), remembered[0].toLatin1()) != std::end(kMethods))
            method = remembered[0].toLatin1();
    }
    if (method != startMethod) StoreValue("method", method);
    m_methods->setCurrentIndex(
        static_cast<int>(std::find(std::begin(kMethods), std::end(kMethods), method) - std::begin(kMethods)) % 3);
    m_initialText.clear();
    RefreshSizeText();
    m_widthBox->selectAll();
    m_widthBox->setFocus();

    const COperation* resize = operation();
    const CNumberRule side = CNumberRule::Whole(1, resize ? resize->params.front().max : INT_MAX);
    numberBoxes().Add(m_widthBox, side, [this](double typed) {
        if (inPercent()) OnWidthPercent(typed);
        else OnWidthChanged(static_cast<int>(typed));
    });
    numberBoxes().Add(m_heightBox, side, [this](double typed) {
        if (inPercent()) OnHeightPercent(typed);
        else OnHeightChanged(static_cast<int>(typed));
    });
    connect(m_constrain, &QCheckBox::clicked, this, &CImageSizeDlg::OnConstrainClicked);
    if (settings && settings->value(kUnitKey).toString() == kPercentUnit) {
        m_units->setCurrentIndex(1);
        OnUnitChosen();
        m_widthBox->selectAll();
    }
    connect(m_units, &QComboBox::currentIndexChanged, this, &CImageSizeDlg::OnUnitChosen);
}

void CImageSizeDlg::OnUnitChosen()
{
    const QString unit = inPercent() ? QStringLiteral("%") : QStringLiteral("pixels");
    m_widthUnit->setText(unit);
    m_heightUnit->setText(unit);
    const COperation* resize = operation();
    const double largest = resize ? resize->params.front().max : INT_MAX;
    // A percentage may be as small as it likes: a side never gets below one pixel.
    const auto rule = [&](int given) {
        return inPercent() ? CNumberRule::Real(0.01, largest * 100.0 / std::max(1, given))
                           : CNumberRule::Whole(1, largest);
    };
    numberBoxes().SetRule(m_widthBox, rule(m_givenWidth));
    numberBoxes().SetRule(m_heightBox, rule(m_givenHeight));
    ShowEdited();
}

void CImageSizeDlg::ShowEdited()
{
    // The boxes show what the dialog holds, so the size stays as it is through a change of unit.
    m_busy = true;
    if (inPercent()) {
        m_widthBox->setText(PercentText(100.0 * m_editedWidth / std::max(1, m_givenWidth)));
        m_heightBox->setText(PercentText(100.0 * m_editedHeight / std::max(1, m_givenHeight)));
    } else {
        ShowBox(m_widthBox, m_editedWidth);
        ShowBox(m_heightBox, m_editedHeight);
    }
    m_busy = false;
    RefreshSizeText();
}

void CImageSizeDlg::OnWidthPercent(double typed)
{
    if (m_busy) return;
    m_busy = true;
    m_editedWidth = PixelsFromPercent(m_givenWidth, typed);
    // Proportions kept in percent: the same percentage of each side.
    if (m_constrain->isChecked()) {
        m_editedHeight = PixelsFromPercent(m_givenHeight, typed);
        const QString same = m_widthBox->text();
        if (m_heightBox->text() != same) m_heightBox->setText(same);
    }
    m_busy = false;
    RefreshSizeText();
}

void CImageSizeDlg::OnHeightPercent(double typed)
{
    if (m_busy) return;
    m_busy = true;
    m_editedHeight = PixelsFromPercent(m_givenHeight, typed);
    if (m_constrain->isChecked()) {
        m_editedWidth = PixelsFromPercent(m_givenWidth, typed);
        const QString same = m_heightBox->text();
        if (m_widthBox->text() != same) m_widthBox->setText(same);
    }
    m_busy = false;
    RefreshSizeText();
}

void CImageSizeDlg::ShowBox(QLineEdit* box, int value)
{
    const QString shown = QString::asprintf("%d", value);
    if (shown != box->text()) box->setText(shown);
}

void CImageSizeDlg::OnWidthChanged(int typed)
{
    if (m_busy) return;
    m_busy = true;
    m_editedWidth = typed;
    if (m_constrain->isChecked()) {
        m_editedHeight = TruncateToInt(m_editedWidth / m_ratio);
        ShowBox(m_heightBox, m_editedHeight);
    }
    m_busy = false;
    RefreshSizeText();
}

void CImageSizeDlg::OnHeightChanged(int typed)
{
    if (m_busy) return;
    m_busy = true;
    m_editedHeight = typed;
    if (m_constrain->isChecked()) {
        m_editedWidth = TruncateToInt(m_editedHeight * m_ratio);
        ShowBox(m_widthBox, m_editedWidth);
    }
    m_busy = false;
    RefreshSizeText();
}

void CImageSizeDlg::OnConstrainClicked(bool checked)
{
    if (!checked) return;
    m_editedWidth = m_givenWidth;
    m_editedHeight = m_givenHeight;
    ShowEdited();
}

void CImageSizeDlg::RefreshSizeText()
{
    const QString text = SizeText(m_editedWidth, m_editedHeight);
    if (!m_initialised) {
        m_initialText = text;
        m_initialised = true;
    }
    m_group->setTitle(text != m_initialText ? QStringLiteral("Pixel Dimensions: %1 (was %2)").arg(text, m_initialText)
                                            : QStringLiteral("Pixel Dimensions: %1").arg(text));
}

void CImageSizeDlg::accept()
{
    // OK is disabled while a box holds no size; this catches Enter and calls from code.
    if (!numberBoxes().isValid(m_widthBox)) {
        Warn(this, QStringLiteral("Incompatible width value"));
        return;
    }
    if (!numberBoxes().isValid(m_heightBox)) {
        Warn(this, QStringLiteral("Incompatible height value"));
        return;
    }
    SetValue("width", m_editedWidth);
    SetValue("height", m_editedHeight);
    const char method = kMethods[std::clamp(m_methods->currentIndex(), 0, 2)];
    SetValue("method", method);
    if (QSettings* settings = DialogSettings()) {
        settings->setValue(kUnitKey, inPercent() ? kPercentUnit : kPixelsUnit);
        settings->setValue(kMethodKey, QString(QLatin1Char(method)));
    }
    CParamDialog::accept();
}
