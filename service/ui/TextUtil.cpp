#include "service/ui/TextUtil.h"

namespace ostra {

QString TrimControls(const QString& Text) {
    qsizetype first = 0;
    qsizetype last = Text.size();
    while (first < last && Text.at(first).unicode() <= 0x20) ++first;
    while (last > first && Text.at(last - 1).unicode() <= 0x20) --last;
    return Text.mid(first, last - first);
}

}  // namespace ostra
