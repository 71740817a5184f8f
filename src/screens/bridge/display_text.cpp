#include "screens/bridge/display_text.hpp"

namespace screens {

QString displayText(std::string_view text, int limit) {
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    for (auto& c : shown) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator) {
            c = QLatin1Char(' ');
        }
    }
    if (shown.size() > limit) {
        shown.truncate(limit - 1);
        if (!shown.isEmpty() && shown.back().isHighSurrogate()) {
            shown.chop(1);
        }
        shown += QChar(0x2026);
    }
    return shown;
}

} // namespace screens
