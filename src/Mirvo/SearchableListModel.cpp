#include "SearchableListModel.h"

#include <QCollator>
#include <QHash>
#include <QLocale>

#include <algorithm>

namespace mirvo {

void SearchableListModel::rankGroups(const QStringList& titles)
{
    QStringList groups = titles;
    groups.removeDuplicates();
    QCollator collator{QLocale(QLocale::Russian, QLocale::Russia)};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Titles that differ only in letter case stay apart, so that each group is one run of rows.
    std::sort(groups.begin(), groups.end(), [&collator](const QString& left, const QString& right) {
        const int order = collator.compare(left, right);
        return order != 0 ? order < 0 : left < right;
    });
    QHash<QString, int> ranks;
    ranks.reserve(groups.size());
    for (int rank = 0; rank < groups.size(); ++rank)
        ranks.insert(groups.at(rank), rank);
    m_groupRanks.clear();
    m_groupRanks.reserve(titles.size());
    for (const QString& title : titles)
        m_groupRanks.append(ranks.value(title));
}

} // namespace mirvo
