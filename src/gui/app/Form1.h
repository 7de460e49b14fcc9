#pragma once
#include "gui/widgets/AlphaImageButton.h"
#include "gui/widgets/AutoSizeLabel.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <array>

// The main window's make-up: every control under its designer name, with its
// design-time text, state and place. Behaviour lives in the handler classes of
// the subsystems, which receive the controls they act on.
class Form1 : public QWidget {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 1063;
    static constexpr int ClientHeight = 575;

    explicit Form1(QWidget *parent = nullptr);

    // Song page address row
    QLabel *Label11[2] = {};          // captions above the two address fields
    QLineEdit *Text1 = nullptr;       // recording page address
    QPushButton *Command9 = nullptr;  // paste into Text1
    AlphaImageButton *aicAlphaImage3 = nullptr; // the lookup button

    // Singer card
    QFrame *Picture1 = nullptr;
    QLabel *Image1 = nullptr;         // singer picture, stretched to its box
    AlphaImageButton *aicAlphaImage1 = nullptr; // frame drawn over Image1
    QLabel *Label1 = nullptr;         // user name
    QLabel *Label4 = nullptr;         // fans
    QLabel *Label3 = nullptr;         // fixed heading "其他信息："
    QLabel *Label10 = nullptr;        // other information
    QLabel *Image2 = nullptr;         // holds the default singer picture

    // Song actions
    QFrame *Picture2 = nullptr;
    AutoSizeLabel *Label2 = nullptr;  // song name; its width places the MV badge
    QLabel *Label5 = nullptr;         // play count
    QLabel *Label6 = nullptr;         // gift count
    QLabel *Label7 = nullptr;         // forward count
    QLabel *Label9 = nullptr;         // comment count
    AlphaImageButton *aicAlphaImage2 = nullptr; // music video badge
    QPushButton *Command7 = nullptr;  // play/stop button
    QPushButton *Command16 = nullptr; // rebuild the audio address and play
    QPushButton *Command13 = nullptr; // copy the audio address
    QPushButton *Command8 = nullptr;  // write the music video page
    QPushButton *Command2 = nullptr;  // open the download panel
    QSlider *Slider1 = nullptr;       // volume, 0..1000

    // Singer works
    QLineEdit *Text2 = nullptr;       // singer home page address
    QPushButton *Command11 = nullptr; // paste into Text2
    QPushButton *Command10 = nullptr; // fetch the singer's works
    QPushButton *Command12 = nullptr; // clear the works table
    QTreeWidget *ListView1 = nullptr; // works table
    QTimer *Timer3 = nullptr;         // builds the works rows
    QTimer *Timer4 = nullptr;         // reports a singer without works

    // Publisher buttons and exit
    QPushButton *Command3 = nullptr;  // publisher's forum
    QPushButton *Command4 = nullptr;  // publisher's web site
    QPushButton *Command5 = nullptr;  // exit program

    // Download panel (hidden until opened)
    QFrame *Picture3 = nullptr;
    QLabel *Label12 = nullptr;        // panel heading
    AlphaImageButton *aicAlphaImage4 = nullptr; // panel close image
    QFrame *Picture6 = nullptr;
    QLabel *Label15 = nullptr;        // default path explanation
    QFrame *Picture4 = nullptr;
    QLabel *Label13 = nullptr;        // "choose another path" hint
    QPushButton *Command1 = nullptr;  // browse for the target file
    QFrame *Picture5 = nullptr;
    QLabel *Label14 = nullptr;        // "music information" heading
    QLabel *Label17 = nullptr;        // singer
    QLabel *Label16 = nullptr;        // music name
    QProgressBar *ProgressBar1 = nullptr;
    QPushButton *Command6 = nullptr;  // start/stop download

    // Status row
    QLabel *Image3 = nullptr;         // crimson strip behind the status row
    std::array<AutoSizeLabel *, 3> Label8 = {}; // hint, status message, maker
    QFrame *Line1 = nullptr;
    QFrame *Line2 = nullptr;

    // Picture holders of the painted frame (never shown)
    QLabel *Image8 = nullptr;         // title banner
    QLabel *Image9 = nullptr;         // title button sprite
    QLabel *Image10 = nullptr;        // frame skin

    // The status message, Label8(1).
    void setStatus(const QString &text) { Label8[1]->setText(text); }
    QString status() const { return Label8[1]->text(); }
    // The download panel's explanation of the default target (Label15); a
    // long folder path wraps onto a second line inside its section.
    void setDownloadExplanation(const QString &text);

    // The painted title buttons and the looks they are drawn in. A full
    // repaint of the window draws both in their normal look again.
    enum class ButtonLook { Normal, Hover, Pressed };
    static QRect minimiseButtonRect(int SW) { return {SW - 80, 2, 29, 20}; }
    static QRect closeButtonRect(int SW) { return {SW - 51, 2, 41, 20}; }
    // Whether the mouse at X, Y is on a title button: its rectangle with
    // the right and bottom edges included, so the two buttons share the
    // column x = SW - 51.
    static bool onTitleButton(const QRect &button, double X, double Y)
    {
        return button.left() <= X && X <= button.left() + button.width() && button.top() <= Y &&
               Y <= button.top() + button.height();
    }
    void drawTitleButtons(ButtonLook minimise, ButtonLook close);
    ButtonLook minimiseLook() const { return m_minimiseLook; }
    ButtonLook closeLook() const { return m_closeLook; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void makeAddressRow();
    void makeSingerCard();
    void makeSongActions();
    void makeWorksSection();
    void makeDownloadPanel();
    void makeStatusRow();
    void makePictureHolders();

    ButtonLook m_minimiseLook = ButtonLook::Normal;
    ButtonLook m_closeLook = ButtonLook::Normal;
};
