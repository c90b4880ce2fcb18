#pragma once

class QString;
class QWidget;

namespace tindlewave {

class FormRow;

// A row for a feature that is not offered yet: its title and detail, and "Not available yet", all
// dimmed. It has no control.
FormRow* makeUnavailableRow(const QString& title, const QString& detail, QWidget* parent = nullptr);

}  // namespace tindlewave
