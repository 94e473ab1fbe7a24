#include "SearchableListModel.h"

#include <QCollator>
#include <QHash>
#include <QLocale>

#include <algorithm>

namespace mirvo {

namespace {

constexpr QChar separator = u'\n';

} // namespace

void SearchableListModel::indexRows(const QStringList& titles, const QStringList& searchTexts)
{
    ++m_generation;
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

    m_joinedSearchTexts.clear();
    m_rowStarts.clear();
    // A text holding the separator could match across two rows; such a list is searched row by row.
    m_joinedSearchUsable = searchTexts.size() == titles.size() &&
                           std::none_of(searchTexts.cbegin(), searchTexts.cend(),
                                        [](const QString& text) { return text.contains(separator); });
    if (!m_joinedSearchUsable)
        return;
    qsizetype length = 0;
    for (const QString& text : searchTexts)
        length += text.size() + 1;
    m_joinedSearchTexts.reserve(length);
    m_rowStarts.reserve(searchTexts.size() + 1);
    for (const QString& text : searchTexts) {
        m_rowStarts.append(m_joinedSearchTexts.size());
        m_joinedSearchTexts += text;
        m_joinedSearchTexts += separator;
    }
    m_rowStarts.append(m_joinedSearchTexts.size());
}

QBitArray SearchableListModel::matchingRows(const QString& normalizedQuery) const
{
    const int rows = rowCount();
    QBitArray matches(rows);
    if (!m_joinedSearchUsable || normalizedQuery.contains(separator)) {
        for (int row = 0; row < rows; ++row)
            matches.setBit(row, rowMatches(row, normalizedQuery));
        return matches;
    }
    qsizetype from = 0;
    while ((from = m_joinedSearchTexts.indexOf(normalizedQuery, from)) >= 0) {
        const auto next = std::upper_bound(m_rowStarts.cbegin(), m_rowStarts.cend(), from);
        matches.setBit(int(next - m_rowStarts.cbegin()) - 1);
        from = *next; // the rest of a matching row need not be read
    }
    return matches;
}

} // namespace mirvo
