// The files an import reads, as French systems export them: the whole text in
// UTF-8 whatever the file's encoding, the field separator told from the header
// line, and the records as RFC 4180 reads them (quoted fields, doubled quotes,
// line breaks inside quotes, CRLF or LF).
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

enum class TextEncoding { Detect, Utf8, Windows1252 };

// A file's text in UTF-8, without its byte-order mark.
struct SourceText {
    std::string text;
    // Whether the file was read as Windows-1252.
    bool windows1252 = false;
    // Its number of lines, for the progress line.
    long long lines = 0;
};

// Reads a whole file. UTF-8 with or without a byte-order mark is taken as it
// is; a file that is not valid UTF-8 is read as Windows-1252 unless encoding
// forces UTF-8. False with a French message (and the line concerned, or 0)
// when the file cannot be read or is not in the forced encoding.
bool ReadSourceText(const std::string& path, TextEncoding encoding, SourceText& source,
                    std::string& error, long& errorLine);

// The field separator of a header line: the one of ';', tab and ',' found
// most often outside quotes (';' first, then tab, on a tie), or '\0' when
// there is none.
char DetectSeparator(std::string_view text);

// The records of a text, one after the other. A field points into the text,
// or, when it held doubled quotes, into unescaped, which must outlive it.
// Unquoted fields lose the spaces around them; quoted ones are kept as they
// are. Blank lines, and lines of empty fields only, are skipped.
class CsvReader {
public:
    CsvReader(std::string_view text, char separator, std::deque<std::string>& unescaped);

    enum class Result { Record, End, Malformed };
    // The next record and the line it begins on (the first line is 1).
    // Malformed: message says why, and reading goes on after that line.
    Result Next(std::vector<std::string_view>& fields, long& line, std::string& message);
    // How far the reading has come, in lines.
    long Line() const { return line; }

private:
    void lineBreak(std::size_t& at);
    void skipLine();

    std::string_view text;
    char separator;
    std::deque<std::string>& unescaped;
    std::size_t pos = 0;
    long line = 1;
};
