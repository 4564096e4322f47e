#pragma once

#include "dialogs/param_dialog.h"

#include <QString>

#include <array>

struct CNumberRule;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QToolButton;

// "Canvas Size": a new width and height, absolute or as a change of the current size, and the
// anchor the picture keeps on the new canvas, picked on a 3 x 3 grid of buttons. The anchor's
// button shows the anchor icon and its neighbours arrows that show which way the canvas grows or
// shrinks. values() holds the current size and the start anchor until OK stores the edited ones.
class CCanvasSizeDlg : public CParamDialog
{
    Q_OBJECT

public:
    // Anchor codes by button, rows top to bottom, columns left to right.
    static constexpr std::array<char, 9> kAnchors = {'w', 'N', 'n', 'W', 'C', 'E', 's', 'S', 'e'};

    CCanvasSizeDlg(int width, int height, QWidget* parent = nullptr, CStartValues start = {});

    int resultWidth() const { return static_cast<int>(value("width")); }
    int resultHeight() const { return static_cast<int>(value("height")); }
    // The anchor picked, stored at once.
    char anchor() const { return static_cast<char>(static_cast<int>(value("anchor"))); }
    int editedWidth() const { return m_editedWidth; }
    int editedHeight() const { return m_editedHeight; }

    QLineEdit* widthBox() const { return m_widthBox; }
    QLineEdit* heightBox() const { return m_heightBox; }
    QCheckBox* relativeBox() const { return m_relative; }
    QGroupBox* currentGroup() const { return m_currentGroup; }
    QGroupBox* newGroup() const { return m_newGroup; }
    QLineEdit* currentWidthText() const { return m_currentWidth; }
    QLineEdit* currentHeightText() const { return m_currentHeight; }
    QToolButton* anchorButton(int index) const { return m_buttons[static_cast<std::size_t>(index)]; }
    // The icon resource a button shows ("" for none): "anchor" or "arrow_n", "arrow_se", ...
    QString iconName(int index) const { return m_iconNames[static_cast<std::size_t>(index)]; }

    // Refuses, leaving the dialog open, while a box holds no size.
    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What a box takes: a side of 1 up to the operation's largest, or the change to such a side.
    CNumberRule Rule(bool horizontal) const;
    void OnBoxChanged(bool horizontal, int typed);
    void OnRelativeClicked(bool checked);
    // A number typed below 1 (as a side): the message, and the closest allowed value into the box.
    void Correct(bool horizontal);
    void Refresh();

    const int m_currentW;
    const int m_currentH;
    int m_editedWidth;
    int m_editedHeight;
    bool m_correcting = false;

    QGroupBox* m_currentGroup = nullptr;
    QGroupBox* m_newGroup = nullptr;
    QLineEdit* m_currentWidth = nullptr;
    QLineEdit* m_currentHeight = nullptr;
    QLineEdit* m_widthBox = nullptr;
    QLineEdit* m_heightBox = nullptr;
    QCheckBox* m_relative = nullptr;
    std::array<QToolButton*, 9> m_buttons{};
    std::array<QString, 9> m_iconNames{};
};
