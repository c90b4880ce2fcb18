#include "Settings/Views/LocaleTexts.h"

#include <QLocale>
#include <QStringList>

namespace tindlewave {

NumberFormat localNumbers() {
    const QLocale locale;
    const bool grouped = !(locale.numberOptions() & QLocale::OmitGroupSeparator);
    return {locale.decimalPoint().toStdString(),
            grouped ? locale.groupSeparator().toStdString() : std::string()};
}

std::string joinedNames(const std::vector<std::string>& names) {
    QStringList list;
    for (const auto& name : names) list.append(QString::fromStdString(name));
    return QLocale().createSeparatedList(list).toStdString();
}

}  // namespace tindlewave
