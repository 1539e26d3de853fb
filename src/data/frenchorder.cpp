#include "data/frenchorder.h"

#include <QCollator>
#include <QLocale>
#include <QString>

const QCollator& FrenchCollator() {
    static const QCollator collator = [] {
        QCollator french(QLocale(QLocale::French, QLocale::France));
        french.setCaseSensitivity(Qt::CaseSensitive);
        french.setNumericMode(false);
        french.setIgnorePunctuation(false);
        return french;
    }();
    return collator;
}

int FrenchCompare(const std::string& a, const std::string& b) {
    return FrenchCollator().compare(QString::fromStdString(a), QString::fromStdString(b));
}
