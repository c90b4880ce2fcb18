#include "Settings/Views/UnavailableRow.h"

#include <QLabel>

#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/PlainText.h"

namespace tindlewave {

FormRow* makeUnavailableRow(const QString& title, const QString& detail, QWidget* parent) {
    auto* row = new FormRow(title, detail, plainLabel("Not available yet"), parent);
    for (auto* label : row->findChildren<QLabel*>()) dimText(label);
    return row;
}

}  // namespace tindlewave
