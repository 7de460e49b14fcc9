#pragma once
#include "core/lookup/SongExtraction.h"
#include "gui/lookup/SongPanel.h"

#include <QObject>
#include <QPointer>

class QLineEdit;
class QPushButton;

// The song lookup of the main window: the parse action behind the logo button
// beside the address field, and the copy and paste buttons of the address.
// It connects the three buttons itself. The works table runs the parse action
// directly through aicAlphaImage3_Click() after filling Text1.
class SongLookup : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QLineEdit *Text1;                 // recording page address
        AlphaImageButton *aicAlphaImage3; // lookup button
        QPushButton *Command13;           // copy the audio address
        QPushButton *Command9;            // paste into Text1
        QLabel *Label1;
        QLabel *Label4;
        QLabel *Label10;
        AutoSizeLabel *Label2;
        QLabel *Label5;
        QLabel *Label6;
        QLabel *Label7;
        QLabel *Label9;
        QLabel *Image1;
        QLabel *Image2;
        AlphaImageButton *aicAlphaImage2; // music video badge
        StatusLine setStatus; // writes the status line
    };

    // `fetch` reads the page (GetPage unless a caller supplies another);
    // `limits` bound the picture loads.
    SongLookup(const Controls &controls, SongState &state, PageFetch fetch = {}, FetchLimits limits = {},
               QObject *parent = nullptr);

    // The window-owned working pieces of the extraction, kept between lookups.
    const ExtractionPieces &pieces() const { return m_pieces; }

public slots:
    void aicAlphaImage3_Click(); // parse action
    void Command13_Click();      // copy the audio address
    void Command9_Click();       // paste the clipboard into Text1

private:
    QPointer<QLineEdit> m_Text1;
    StatusLine m_setStatus;
    SongState &m_state;
    ExtractionPieces m_pieces;
    SongPanel m_panel;
    PageFetch m_fetch;
};
