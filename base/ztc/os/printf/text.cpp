// s and c: texts cut by the precision, and single characters, padded to the width.
#include <cstring>

#include "base/ztc/os/printf/writers.hpp"

namespace ztc::printf_engine {

void write_text(Sink &out, const Piece &piece, const char *text) {
    // A null text reads "(null)" where that fits the precision, else nothing.
    if (text == nullptr) text = piece.precision < 0 || piece.precision >= 6 ? "(null)" : "";
    if (piece.plain) {
        out.put(text, strlen(text));
        return;
    }
    const size_t length =
        piece.precision < 0 ? strlen(text) : strnlen(text, static_cast<size_t>(piece.precision));
    put_padded(out, piece, nullptr, 0, 0, text, length);
}

void write_char(Sink &out, const Piece &piece, int value) {
    const char c = static_cast<char>(static_cast<unsigned char>(value));
    put_padded(out, piece, nullptr, 0, 0, &c, 1);
}

} // namespace ztc::printf_engine
