#include "keywords/list_commands.h"

#include "base/error_report.h"
#include "base/surface.h"
#include "keywords/event_pump.h"
#include "keywords/keyword_list.h"

#include <cmath>
#include <vector>

namespace List {

namespace {

// Beyond this many runs of neighbouring positions, telling the list view about each run costs more
// than the removal (about a microsecond each, with a selection), so the entries go in one pass and
// the view starts afresh.
constexpr size_t ManyRuns = 5000;

// Removes the entries whose text contains `text` when `removeMatches`, else those whose text does
// not contain it. Positions are collected in one scan and removed from the end, a run of
// neighbouring positions at a time, so the work is linear in the size of the list.
void removeItems(KeywordList& list, const QString& text, bool removeMatches, Surface& surface,
                 Prompts& prompts, const QString& where) {
    ErrorTrap trap(prompts, where);
    EventPump pump;
    std::vector<int> positions;

    // Both passes return false when entries were removed under them while the window's events were
    // processed: the collected positions then name other entries, and the work starts over.
    auto scan = [&] {
        positions.clear();
        const std::uint64_t revision = list.revision();
        const int n = list.Count();
        int shown = -1;
        for (int i = 1; i <= n; ++i) {
            pump.poll();
            if (list.revision() != revision)
                return false;
            const int value = static_cast<int>(std::nearbyint(static_cast<double>(i) / list.Count() * 100.0));
            if (value != shown) {
                surface.setProgressValue(value);
                shown = value;
                if (list.revision() != revision)
                    return false;
            }
            if (list.item(i).contains(text, Qt::CaseSensitive) == removeMatches)
                positions.push_back(i);
        }
        return true;
    };
    auto removeCollected = [&] {
        size_t runs = positions.empty() ? 0 : 1;
        for (size_t k = 1; k < positions.size(); ++k)
            runs += positions[k] != positions[k - 1] + 1 ? 1 : 0;
        if (runs > ManyRuns) {
            list.removeMany(positions);
            return true;
        }
        std::uint64_t revision = list.revision();
        size_t k = positions.size();
        while (k > 0) {
            pump.poll();
            if (list.revision() != revision)
                return false;
            const int last = positions[--k];
            int first = last;
            while (k > 0 && positions[k - 1] == first - 1)
                first = positions[--k];
            list.removeRun(first, last);
            revision = list.revision();
        }
        return true;
    };

    bool finished = false;
    while (!finished) {
        bool scanned = false;
        if (!trap(100, [&] { scanned = scan(); }))
            break;
        if (!scanned)
            continue;
        if (!trap(102, [&] { finished = removeCollected(); }))
            break;
    }
    trap(104, [&] {
        list.compact();
        surface.setProgressValue(0);
    });
    if (trap.ended())
        throw ProgramEnding();
}

} // namespace

void RemoveItemsWith(KeywordList& list, const QString& text, Surface& surface, Prompts& prompts) {
    removeItems(list, text, true, surface, prompts, QStringLiteral("List.RemoveItemsWith"));
}

void RemoveItemsWithout(KeywordList& list, const QString& text, Surface& surface, Prompts& prompts) {
    removeItems(list, text, false, surface, prompts, QStringLiteral("List.RemoveItemsWithout"));
}

void AddSamples(KeywordList& list) {
    list.add(QStringLiteral("apple"));
    list.add(QStringLiteral("dog"));
    list.add(QStringLiteral("city"));
}

void ClearUnlessBusy(KeywordList& list, const Surface& surface) {
    if (!surface.busy())
        list.clear();
}

void RemoveSelectedUnlessBusy(KeywordList& list, const Surface& surface, int position) {
    if (surface.busy() || list.Count() == 0 || position < 1 || position > list.Count())
        return;
    list.remove(position);
}

} // namespace List
