#pragma once

#include <QFont>
#include <QGlyphRun>
#include <QHash>
#include <QList>
#include <QRawFont>
#include <QString>
#include <QStringView>
#include <optional>

// The advances of texts in one font, added up from their parts between `separator`s (each
// part with the separator before it) and remembered by part: a status that changes every
// second in a few characters has only its changed part measured. The parts are added in
// fractions of a pixel and only the sum is rounded, as the font measures a whole text.
class CTextAdvances {
  public:
    explicit CTextAdvances(QStringView separator) : m_separator(separator.toString()) {}

    int Advance(const QFont& font, const QString& text);
    // Each part's advance, unrounded, in the order of `text`.
    struct Part {
        QString text;
        qreal advance;
    };
    QList<Part> Parts(const QFont& font, const QString& text);
    static qreal Total(const QList<Part>& parts);
    // A part's glyphs where the font lays them out, from the advances and pairs measured rather
    // than by shaping it: none for text that is not laid out a pair at a time, or that has a
    // character the font lacks.
    std::optional<QGlyphRun> Glyphs(const QFont& font, const QString& part);

  private:
    void UseFont(const QFont& font);
    qreal RememberedAdvance(const QString& part);
    qreal PartAdvance(const QString& part);
    qreal CharAdvance(QChar ch);
    qreal Kerning(QChar first, QChar second);
    void MeasureClockPairs();

    QString m_separator;
    QFont m_font;
    bool m_hasFont = false;
    // Parts measured lately, in m_font.
    QHash<QString, qreal> m_advances;
    // Each character's own advance, and what a pair of them adds to their two advances.
    QHash<char16_t, qreal> m_charAdvances;
    QHash<quint32, qreal> m_kerning;
    QRawFont m_rawFont;
    QHash<char16_t, quint32> m_glyphIndexes;
};
