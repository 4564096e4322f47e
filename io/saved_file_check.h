#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What a save put into a file, for the check that the file really holds it.
struct CWrittenContent
{
    int width = 0;
    int height = 0;
    bool icc = false;
    bool exif = false;
    bool xmp = false;
    bool iptc = false;
};

// Checks the `size` bytes at `data` just written in `format` (an encoder's format name) before they
// replace anything: the file must parse again as that format (header, chunk, segment or directory
// structure, the picture size) and hold the metadata blocks `expected` says were written. Only the
// structure is walked; no picture is decoded. False with `reason` naming what is wrong.
bool CheckWrittenFile(const std::uint8_t* data, std::size_t size, const QByteArray& format,
                      const CWrittenContent& expected, QString* reason);

// The same check for a BMP from its first bytes (`size` of them, at least the 54 of its headers)
// and the file's length: the headers must describe an uncompressed 24-bit picture of the expected
// size whose rows fill the file exactly. For when the whole file cannot be mapped.
bool CheckWrittenBmpHeader(const std::uint8_t* header, std::size_t size, qint64 fileBytes,
                           const CWrittenContent& expected, QString* reason);
