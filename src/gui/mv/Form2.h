#pragma once
#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The "获取MV" dialog: the video address, the generated line, and a button
// that opens the page.
class Form2 : public QDialog {
    Q_OBJECT
public:
    explicit Form2(QWidget *parent = nullptr);

    QGroupBox *Frame1 = nullptr;  // video information
    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;   // the player address
    QLabel *Label2 = nullptr;
    QLineEdit *Text2 = nullptr;   // the generated line
    QGroupBox *Frame2 = nullptr;  // friendly hint
    QLabel *Label3 = nullptr;
    QPushButton *Command1 = nullptr; // play now

    // Says where video.htm was written instead of "the current folder"; a
    // long folder path wraps onto a second line above the button.
    void setPageNote(const QString &text);

private:
    void Form_Load();
};
