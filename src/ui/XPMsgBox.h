#pragma once

#include <QDialog>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <array>
#include <functional>

class QLabel;
class QPushButton;

// The program's own message box. Takes the Windows message-box style numbers and returns the Windows
// button numbers (1 OK, 2 cancel, 3 abort, 4 retry, 5 ignore, 6 yes, 7 no, 16384 help), -1 when it was
// closed without a button.
class XPMsgBox : public QDialog
{
    Q_OBJECT
    Q_PROPERTY(short pressed READ pressed WRITE setPressed)
    Q_PROPERTY(int focus READ focusCode WRITE setFocusCode)
public:
    // Controls carry the names msgtextlabel, links, mitte, rechts, HelpButton, picfrage, picachtung,
    // picinfo, picstop, picLogo.

    enum class Icon { None, Stop, Question, Warning, Information };

    struct ButtonDef
    {
        QString caption;
        short tag = 0; // 0: the button is not used
    };

    // What a style number asks for. `remainder` is what the caller's style holds afterwards.
    struct Style
    {
        bool help = false;
        int focus = 0;
        Icon icon = Icon::None;
        bool logo = false;
        QString defaultTitle; // empty without an icon: the caption is then the title unchanged
        int buttonSet = 0;
        std::array<ButtonDef, 3> buttons; // links, mitte, rechts
        int remainder = 0;
    };
    static Style DecodeStyle(int style);

    // Geometry in pixels; the program's measures are twips (1440 per inch) at the screen's logical DPI.
    struct LayoutInput
    {
        qreal dpi = 96;
        QSize labelSize;                        // the label sized to its text on one line per text line
        std::function<int(int)> heightForWidth; // the label's height when wrapped at a width
        QSize buttonSize;                       // common size of the buttons
        int buttonCount = 1;
    };
    struct Layout
    {
        QRect label;
        bool wrapped = false;
        QList<QRect> buttons; // left to right
        QSize window;
    };
    static Layout ComputeLayout(const LayoutInput& in);
    static int TwipsToPixels(int twips, qreal dpi);

    // objectName of the button that gets the focus for a default-button code.
    static QString FocusTarget(int focus, bool mitteVisible, bool rechtsVisible, bool helpVisible);

    explicit XPMsgBox(QWidget* owner = nullptr);

    short pressed() const { return m_pressed; }
    void setPressed(short v) { m_pressed = v; }
    int focusCode() const { return m_focus; }
    void setFocusCode(int v) { m_focus = v; }

    // Lays the box out for one message; `style` is consumed as ShowXPMessage describes.
    void Prepare(const QString& prompt, int& style, const QString& title);

    // Test seam: when set, every box calls `responder` once it is shown and laid out; the returned number
    // presses the visible button with that number, -1 closes the box without a button, any other number
    // leaves the box open (the test closes it some other way). nullptr: a person answers.
    static void SetTestResponder(std::function<int(XPMsgBox&)> responder);

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void ApplyFocus();
    void Respond();
    QPushButton* MakeButton(const QString& name);
    QLabel* MakePicture(const QString& name, const QPixmap& pixmap);

    QLabel* m_text = nullptr;
    std::array<QPushButton*, 4> m_buttons{}; // links, mitte, rechts, HelpButton
    std::array<QLabel*, 5> m_pictures{};     // picfrage, picachtung, picinfo, picstop, picLogo
    short m_pressed = -1;
    int m_focus = 0;
    bool m_responderDue = false;
};

// Shows `prompt` modally over `owner` (nullptr: the main window). `style` is consumed: on return it holds
// what is left after the help, default-button and icon groups were taken off.
short ShowXPMessage(const QString& prompt, int& style, const QString& title, QWidget* owner = nullptr);
