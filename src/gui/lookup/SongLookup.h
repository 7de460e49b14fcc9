#pragma once
#include "core/lookup/SongExtraction.h"
#include "gui/lookup/SongPanel.h"

#include <QObject>

class QLineEdit;
class QPushButton;

// The song lookup of the main window: the parse action behind the logo button
// beside the address field, and the copy and paste buttons of the address.
// It connects the three buttons itself. The works table starts the parse
// action through lookUp() after filling Text1.
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
    // `limits` bound the picture loads. The controls must outlive this object.
    SongLookup(const Controls &controls, SongState &state, PageFetch fetch = {}, FetchLimits limits = {},
               QObject *parent = nullptr);
    ~SongLookup() override;

    // Starts the parse action for the address now in Text1. The address is
    // read once, here: editing Text1 while the page comes changes nothing
    // for this lookup. False when it was refused at once; otherwise `done`
    // follows as SongLookups::start describes. The busy cursor shows until
    // the lookup ends.
    bool lookUp(SongLookups::Done done = {});
    // Whether a lookup is in flight.
    bool busy() const { return m_lookups.busy(); }

    // The window-owned working pieces of the extraction, kept between lookups.
    const ExtractionPieces &pieces() const { return m_lookups.pieces(); }

signals:
    // A lookup ended that no newer one superseded: the song panel and the
    // current song are as it left them.
    void lookupEnded(LookupOutcome outcome);

public slots:
    void aicAlphaImage3_Click(); // parse action
    void Command13_Click();      // copy the audio address
    void Command9_Click();       // paste the clipboard into Text1

private:
    QLineEdit *const m_Text1;
    StatusLine m_setStatus;
    SongState &m_state;
    SongPanel m_panel;
    SongLookups m_lookups; // after the panel it writes: ended before it
};
