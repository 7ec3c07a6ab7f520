// Text for a stream gathered into large pieces: on a listing of a hundred
// thousand names, one stream call per line costs more than the text itself.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

class OvPieceWriter {
public:
    static constexpr std::size_t kPiece = 64 * 1024;

    explicit OvPieceWriter(std::ostream& out) : out_(out) { piece_.reserve(kPiece + 1024); }
    OvPieceWriter(const OvPieceWriter&) = delete;
    OvPieceWriter& operator=(const OvPieceWriter&) = delete;
    ~OvPieceWriter() { Write(); }

    // The piece being gathered: append to it, then call Next.
    std::string& Text() { return piece_; }
    // Writes the piece once it is large.
    void Next()
    {
        if (piece_.size() >= kPiece) Write();
    }
    // Writes what was gathered.
    void Write()
    {
        out_.write(piece_.data(), static_cast<std::streamsize>(piece_.size()));
        piece_.clear();
    }

private:
    std::ostream& out_;
    std::string piece_;
};
