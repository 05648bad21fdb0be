#pragma once

#include <QByteArray>
#include <QMetaType>

// What one polling step got from the reader: a card that was found, selected
// and read, with its text record and compressed photo.
struct CardReading
{
    bool complete = false;
    QByteArray text;    // the 256-byte text record
    QByteArray photo;   // the compressed photo buffer (1040 bytes)
    unsigned int photoLength = 0;
};
Q_DECLARE_METATYPE(CardReading)

namespace cardreading {

constexpr int kTextBytes = 256;
constexpr int kPhotoBytes = 1040;

// Finds, selects and reads the card on `port`; blocks for the reader
// exchanges (about half a second with a card on a real reader).
CardReading readOnce(int port);

} // namespace cardreading
