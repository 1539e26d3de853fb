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
