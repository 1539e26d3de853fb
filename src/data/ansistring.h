// Codes, labels and statement texts are 8-bit strings holding UTF-8; they
// become QString only where they meet a widget or a query.
#pragma once

#include <QString>

#include <string>

inline std::string ToAnsi(const QString& text) {
    return text.toStdString();
}

inline QString FromAnsi(const std::string& text) {
    return QString::fromStdString(text);
}

// A text as it is shown on one line of a list or a cell: tabs and line
// breaks become blanks.
inline QString OneLine(QString text) {
    for (QChar& c : text)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            c = QLatin1Char(' ');
    return text;
}

inline QString FromAnsiOneLine(const std::string& text) {
    return OneLine(FromAnsi(text));
}
