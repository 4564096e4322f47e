#pragma once

#include "dialogs/param_dialog.h"
#include "filters/convolution/convolution.h"

#include <array>
#include <vector>

class QLineEdit;
class QPushButton;

// The user's 5 x 5 integer filter: 25 weight boxes, a divisor ("Scale:") and an offset, a live
// preview, and ".ocf" filter files. The parameters are the 25 weights (row by row, top left first),
// the scale and the offset, in the operation's argument order; each preview request carries its
// own copy of them, so a rendering never reads boxes the user is still typing into.
class CCustomDlg : public CParamDialog
{
    Q_OBJECT

public:
    static constexpr int kWeights = 25;

    explicit CCustomDlg(QWidget* parent = nullptr, CStartValues start = {});

    // The preview rendering and the final application, from the values of one request.
    static void Render(CImageProcessor& engine, const std::vector<double>& values);

    orvex_convolution::CCustomFilterSettings settings() const;

    // Reads a filter file into the boxes; a file that cannot be read, or is too short to hold a
    // whole filter, is reported in a message box and every value stays as it was.
    bool LoadFrom(const QString& path);
    // Writes the current values; a failure is reported in a message box.
    bool SaveTo(const QString& path);

    QLineEdit* weightBox(int index) const { return m_boxes.at(static_cast<std::size_t>(index)); }
    QLineEdit* scaleBox() const { return m_boxes[kWeights]; }
    QLineEdit* offsetBox() const { return m_boxes[kWeights + 1]; }
    QPushButton* loadButton() const { return m_load; }
    QPushButton* saveButton() const { return m_save; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The boxes stand for the row's parameters in the row's order: the weights, scale, offset.
    const std::string& ParamName(std::size_t box) const;
    void OnValueTyped(std::size_t box, double typed);
    void RefreshPreview();
    void OnLoad();
    void OnSave();
    void ShowError(const QString& text);

    std::array<QLineEdit*, kWeights + 2> m_boxes{};
    QPushButton* m_load = nullptr;
    QPushButton* m_save = nullptr;
    bool m_opened = false;
};
