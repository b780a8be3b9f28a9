// What the playback companion writes into an application's pData for a
// recorded call: the structure the source left, with the application's own
// fields kept and recorded handles replaced by new ones; pages by memory
// transfer cut into the application's buffers; native images and files.
// Image bytes come from the recording's image files; without them a page
// of the recorded geometry is generated.
#ifndef TRACELET_PLAYBACK_ANSWERS_H
#define TRACELET_PLAYBACK_ANSWERS_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "Script.h"
#include "tracelet/twain.h"

namespace tracelet {
namespace playback {

// Writes the recorded output of `recorded` into `data` (not null), an
// application's structure of the call's type. Messages that ask the source
// for values get the whole recorded structure, except what belongs to the
// application or the manager (an identity's Id, an event's pEvent, a
// window's hParent); other messages get the bytes the source changed in
// the recording. A container the source handed back comes in a new handle.
void WriteStructure(const RecordedCall& recorded, void* data);

// A new handle holding `bytes`; null when there is no memory.
TW_HANDLE HandleWith(const std::string& bytes);

// The bytes of an image file, when it can be read whole and is `length` long.
bool ReadImage(const RecordedImage& image, std::string* bytes);

// A generated page: `rows` rows of `bytesPerRow` bytes with a pattern of
// diagonal stripes, so that cuts and offsets show.
std::string GeneratedRows(uint32_t bytesPerRow, uint32_t rows);

// A native image (the virtual scanner's native layout: header, then rows)
// of the geometry in a recorded TW_IMAGEINFO; "" when there is none.
std::string GeneratedNative(const std::string& imageInfo);

// Plays one page by memory transfer into buffers of the application's size.
class PagePlayer {
public:
    // Starts the page of `recorded` (its strips). `generated` is set when
    // the recording holds no bytes for it.
    void Start(const RecordedCall& recorded, bool* generated);
    bool Active() const { return active_; }
    void Stop() { active_ = false; }

    // Fills the application's next strip; returns TWRC_SUCCESS, or
    // TWRC_XFERDONE with the last one, or TWRC_FAILURE with *code set.
    TW_UINT16 Next(TW_IMAGEMEMXFER* xfer, TW_UINT16* code);

private:
    const RecordedCall* page_ = nullptr;
    bool active_ = false;
    bool recut_ = false;       // uncompressed: cut by rows into the application's buffers
    std::string bytes_;        // the whole page (recut) or, strip after strip, the recorded strips
    std::size_t next_ = 0;     // recut: the next row; else the next recorded strip
    std::size_t offset_ = 0;   // the next strip's offset in bytes_ (recorded strips)
    TW_IMAGEMEMXFER first_{};  // the first recorded strip's description
    uint32_t rows_ = 0;        // the page's rows
};

}  // namespace playback
}  // namespace tracelet

#endif  // TRACELET_PLAYBACK_ANSWERS_H
