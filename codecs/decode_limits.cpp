#include "codecs/decode_limits.h"

namespace glimmerly {
namespace {

// For debugging only: the program shows its own German text for each reason.
const char* Describe(PictureRefusal reason) {
    switch (reason) {
    case PictureRefusal::SideTooLong:
        return "picture refused: a side is longer than 65500 pixels";
    case PictureRefusal::TooManyPixels:
        return "picture refused: more than 2^26 pixels";
    case PictureRefusal::OverBudget:
        return "picture refused: decoding needs more than the memory budget";
    case PictureRefusal::ShorterThanClaimed:
        return "picture refused: the data is too short for the size in the header";
    case PictureRefusal::ScansOutOfOrder:
        return "picture refused: progressive scans out of order";
    case PictureRefusal::ArithmeticCoding:
        return "picture refused: arithmetic coding";
    }
    return "picture refused";
}

} // namespace

PictureRefused::PictureRefused(PictureRefusal reason)
    : std::runtime_error(Describe(reason)), reason_(reason) {}

} // namespace glimmerly
