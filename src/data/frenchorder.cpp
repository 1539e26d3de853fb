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

int FrenchCompare(std::string_view a, std::string_view b) {
    return FrenchCollator().compare(QString::fromUtf8(a.data(), qsizetype(a.size())),
                                    QString::fromUtf8(b.data(), qsizetype(b.size())));
}
