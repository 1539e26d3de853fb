#include "importdata.h"

#include "data/schema.h"

#include <algorithm>
#include <charconv>
#include <cmath>

const std::array<const char*, 8> kFigureColumns = {
    schema::DataCodeAccount, schema::DataPeriodYear,  schema::DataPeriodMonth, schema::DataAgence,
    schema::DataUtilisateur, schema::DataFournisseur, schema::DataDossier,     schema::DataValeur,
};

const std::array<LabelTable, 4> kLabelTables = {{
    {schema::DimUtilisateur, "utilisateurs", "--users"},
    {schema::DimAgence, "agences", "--agencies"},
    {schema::DimFournisseur, "fournisseurs", "--suppliers"},
    {schema::DimNiveau, "niveaux", "--levels"},
}};

int LabelIndex(SourceKind kind) {
    switch (kind) {
    case SourceKind::Users:
        return 0;
    case SourceKind::Agencies:
        return 1;
    case SourceKind::Suppliers:
        return 2;
    case SourceKind::Levels:
        return 3;
    default:
        return -1;
    }
}

namespace {

// The lengths the schema gives codes and labels, in characters.
constexpr std::size_t kCodeLength = 64;
constexpr std::size_t kLabelLength = 255;

std::size_t characters(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::vector<std::string> columnsOf(SourceKind kind) {
    if (kind == SourceKind::Figures)
        return {kFigureColumns.begin(), kFigureColumns.end()};
    if (kind == SourceKind::LevelAgencies)
        return {schema::NiveauAgenceNiveau, schema::NiveauAgenceAgence};
    return {schema::Code, schema::Libelle};
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

// A year of four digits.
bool parseYear(std::string_view text, int& year) {
    if (text.size() != 4 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    std::from_chars(text.data(), text.data() + 4, year);
    return true;
}

bool parseMonth(std::string_view text, int& month) {
    if (text.empty() || text.size() > 2 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    std::from_chars(text.data(), text.data() + text.size(), month);
    return month >= 1 && month <= 12;
}

// Reads one file's lines into data.
class FileReader {
public:
    FileReader(ImportData& data, std::size_t index,
               const std::function<void(long long, long long)>& progress, long long total)
        : data(data)
        , index(index)
        , source(data.sources[index])
        , progress(progress)
        , total(total) {}

    void Read(const SourceText& text) {
        const auto nul = text.text.find('\0');
        if (nul != std::string::npos) {
            const long line = 1 + static_cast<long>(std::count(
                                      text.text.begin(),
                                      text.text.begin() + static_cast<std::ptrdiff_t>(nul), '\n'));
            error(line, -1, "", "le texte contient un caractère nul");
            data.linesRead += text.lines;
            return;
        }
        const char separator = DetectSeparator(text.text);
        std::vector<std::string_view> fields;
        std::string message;
        long line = 1;
        CsvReader reader(text.text, separator ? separator : ';', data.unescaped);
        auto result = reader.Next(fields, line, message);
        if (result == CsvReader::Result::End) {
            error(0, -1, "",
                  "le fichier est vide : une ligne d'en-tête est attendue (" +
                      joined(columnsOf(source.kind)) + ")");
        } else if (result == CsvReader::Result::Malformed) {
            error(line, -1, "", message);
        } else if (!separator) {
            error(line, -1, "",
                  "l'en-tête n'a pas de séparateur (« ; », « , » ou tabulation) entre ses "
                  "colonnes, attendues : " +
                      joined(columnsOf(source.kind)));
        } else if (header(fields, line)) {
            long long counted = 0;
            while ((result = reader.Next(fields, line, message)) != CsvReader::Result::End) {
                if (result == CsvReader::Result::Malformed)
                    error(line, -1, "", message);
                else
                    record(fields, line);
                if (++counted % 8192 == 0)
                    progress(data.linesRead + reader.Line(), total);
            }
        }
        data.linesRead += text.lines;
        progress(data.linesRead, total);
    }

private:
    void error(long line, int column, const std::string& columnName, const std::string& message) {
        data.errors.Add(index, line, column,
                        line > 0 ? LineError(source.path, line, columnName, message)
                                 : source.path + " : " + message);
    }

    bool header(const std::vector<std::string_view>& fields, long line) {
        names = columnsOf(source.kind);
        std::vector<int> positions(names.size(), -1);
        bool good = true;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            std::string name = lower(fields[i]);
            if (name == "libellé")
                name = schema::Libelle;
            const auto found = std::find(names.begin(), names.end(), name);
            if (found == names.end()) {
                error(line, static_cast<int>(i), "",
                      "colonne " + Quoted(fields[i]) +
                          " inconnue ; colonnes attendues : " + joined(names));
                good = false;
            } else if (positions[static_cast<std::size_t>(found - names.begin())] >= 0) {
                error(line, static_cast<int>(i), "", "colonne " + Quoted(fields[i]) + " en double");
                good = false;
            } else {
                positions[static_cast<std::size_t>(found - names.begin())] = static_cast<int>(i);
            }
        }
        for (std::size_t c = 0; c < names.size(); ++c)
            if (positions[c] < 0) {
                error(line, static_cast<int>(fields.size()), "",
                      "la colonne « " + names[c] + " » manque à l'en-tête");
                good = false;
            }
        width = fields.size();
        data.positions[index] = positions;
        return good;
    }

    // The field of a column, checked as a code: not empty, not too long.
    bool code(const std::vector<std::string_view>& fields, long line, std::size_t column,
              std::string_view& value) {
        const int position = data.positions[index][column];
        value = fields[static_cast<std::size_t>(position)];
        if (value.empty()) {
            error(line, position, names[column], "le code est vide");
            return false;
        }
        if (value.size() > kCodeLength && characters(value) > kCodeLength) {
            error(line, position, names[column],
                  Quoted(value) + " dépasse " + std::to_string(kCodeLength) + " caractères");
            return false;
        }
        return true;
    }

    void record(const std::vector<std::string_view>& fields, long line) {
        if (fields.size() != width) {
            error(line, -1, "",
                  std::to_string(fields.size()) + (fields.size() > 1 ? " champs" : " champ") +
                      " au lieu des " + std::to_string(width) + " de l'en-tête");
            return;
        }
        if (source.kind == SourceKind::Figures)
            figure(fields, line);
        else if (source.kind == SourceKind::LevelAgencies)
            link(fields, line);
        else
            label(fields, line);
    }

    void label(const std::vector<std::string_view>& fields, long line) {
        std::string_view value;
        if (!code(fields, line, 0, value))
            return;
        const int position = data.positions[index][1];
        const std::string_view text = fields[static_cast<std::size_t>(position)];
        if (text.size() > kLabelLength && characters(text) > kLabelLength) {
            error(line, position, names[1],
                  Quoted(text) + " dépasse " + std::to_string(kLabelLength) + " caractères");
            return;
        }
        auto& table = data.labels[static_cast<std::size_t>(LabelIndex(source.kind))];
        auto& seen = data.labelOrigins[static_cast<std::size_t>(LabelIndex(source.kind))];
        const std::string key(value);
        const auto found = seen.find(key);
        if (found == seen.end()) {
            seen.emplace(key, ImportData::LabelOrigin{table.size(), index, line});
            table.push_back({key, std::string(text)});
        } else if (table[found->second.row].label != text) {
            error(line, position, names[1],
                  "le code " + Quoted(value) + " a déjà le libellé " +
                      Quoted(table[found->second.row].label) + " (" +
                      data.sources[found->second.source].path + ", ligne " +
                      std::to_string(found->second.line) + ")");
        }
    }

    void link(const std::vector<std::string_view>& fields, long line) {
        std::string_view level;
        std::string_view agency;
        const bool good = code(fields, line, 0, level);
        if (code(fields, line, 1, agency) && good &&
            data.linkSet.emplace(std::string(level), std::string(agency)).second)
            data.links.push_back({std::string(level), std::string(agency), index, line});
    }

    void figure(const std::vector<std::string_view>& fields, long line) {
        const auto field = [&](int column) {
            return fields[static_cast<std::size_t>(data.positions[index][column])];
        };
        const auto bad = [&](int column, const std::string& message) {
            error(line, data.positions[index][column], names[static_cast<std::size_t>(column)],
                  Quoted(field(column)) + " " + message);
            return false;
        };
        std::array<std::string_view, fcFile + 1> codes;
        bool good = true;
        for (const int column : {fcAccount, fcAgency, fcUser, fcSupplier, fcFile})
            good = code(fields, line, static_cast<std::size_t>(column),
                        codes[static_cast<std::size_t>(column)]) &&
                   good;
        int year = 0;
        int month = 0;
        double value = 0;
        if (!parseYear(field(fcYear), year))
            good = bad(fcYear, "n'est pas une année à quatre chiffres");
        if (!parseMonth(field(fcMonth), month))
            good = bad(fcMonth, "n'est pas un mois de 1 à 12");
        if (!ParseNumber(field(fcValue), value))
            good = bad(fcValue, "n'est pas un nombre");
        if (!good)
            return;
        FigureRow row;
        row.account = data.pools[0].Intern(codes[fcAccount]);
        row.agency = data.pools[1].Intern(codes[fcAgency]);
        row.user = data.pools[2].Intern(codes[fcUser]);
        row.supplier = data.pools[3].Intern(codes[fcSupplier]);
        row.file = codes[fcFile];
        row.value = value;
        row.year = static_cast<std::int16_t>(year);
        row.month = static_cast<std::int8_t>(month);
        row.source = static_cast<std::uint16_t>(index);
        row.line = static_cast<std::uint32_t>(line);
        data.figures.push_back(row);
        if (year != lastYear || month != lastMonth) {
            data.months.emplace(year, month);
            lastYear = year;
            lastMonth = month;
        }
    }

    ImportData& data;
    std::size_t index;
    const Source& source;
    const std::function<void(long long, long long)>& progress;
    long long total;
    std::vector<std::string> names;
    std::size_t width = 0;
    int lastYear = 0;
    int lastMonth = 0;
};

} // namespace

void ImportErrors::Add(std::size_t source, long line, int column, std::string text) {
    ++count;
    kept.push_back({source, line, column, std::move(text)});
    if (kept.size() >= 4 * kShown) {
        std::stable_sort(kept.begin(), kept.end(), [](const Entry& a, const Entry& b) {
            return std::tie(a.source, a.line, a.column) < std::tie(b.source, b.line, b.column);
        });
        kept.resize(kShown);
    }
}

std::vector<std::string> ImportErrors::First() const {
    std::vector<Entry> sorted = kept;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Entry& a, const Entry& b) {
        return std::tie(a.source, a.line, a.column) < std::tie(b.source, b.line, b.column);
    });
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < sorted.size() && i < kShown; ++i)
        texts.push_back(sorted[i].text);
    return texts;
}

std::uint32_t CodePool::Intern(std::string_view code) {
    if (any && code == last)
        return lastId;
    auto found = ids.find(code);
    if (found == ids.end()) {
        const std::string& kept = codes.emplace_back(code);
        found = ids.emplace(kept, static_cast<std::uint32_t>(codes.size() - 1)).first;
    }
    last = found->first;
    lastId = found->second;
    any = true;
    return lastId;
}

bool ParseNumber(std::string_view text, double& value) {
    // Spaces around the number.
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    std::string plain;
    std::size_t i = 0;
    const auto starts = [&](std::string_view what) { return text.substr(i, what.size()) == what; };
    const auto digit = [&]() { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
    if (starts("-") || starts("+")) {
        plain += text[i] == '-' ? "-" : "";
        ++i;
    } else if (starts("\u2212")) {
        plain += '-';
        i += 3;
    }
    // The whole part: plain digits, or groups of three after one to three.
    std::size_t group = 0;
    bool grouped = false;
    std::size_t digits = 0;
    for (;;) {
        if (digit()) {
            plain += text[i++];
            ++group;
            ++digits;
            continue;
        }
        std::size_t space = 0;
        if (starts(" "))
            space = 1;
        else if (starts("\u00A0"))
            space = 2;
        else if (starts("\u202F"))
            space = 3;
        if (space == 0)
            break;
        if (group == 0 || group > 3 || (grouped && group != 3))
            return false;
        grouped = true;
        group = 0;
        i += space;
    }
    if (grouped && group != 3)
        return false;
    if (i < text.size() && (text[i] == ',' || text[i] == '.')) {
        plain += '.';
        ++i;
        std::size_t decimals = 0;
        while (digit()) {
            plain += text[i++];
            ++decimals;
        }
        if (decimals == 0)
            return false;
        digits += decimals;
    }
    if (digits == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < text.size() && (text[i] == '-' || text[i] == '+'))
            plain += text[i++];
        if (!digit())
            return false;
        while (digit())
            plain += text[i++];
    }
    if (i != text.size())
        return false;
    const auto [end, status] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    return status == std::errc() && end == plain.data() + plain.size() && std::isfinite(value);
}

std::string Quoted(std::string_view text) {
    return "« " + std::string(text) + " »";
}

std::string LineError(const std::string& path, long line, const std::string& column,
                      const std::string& message) {
    return path + ", ligne " + std::to_string(line) +
           (column.empty() ? "" : ", colonne " + column) + " : " + message;
}

void ReadSources(ImportData& data, TextEncoding encoding,
                 const std::function<void(long long, long long)>& progress) {
    data.positions.assign(data.sources.size(), {});
    long long total = 0;
    std::vector<bool> readable;
    for (std::size_t i = 0; i < data.sources.size(); ++i) {
        auto text = std::make_unique<SourceText>();
        std::string message;
        long line = 0;
        const bool read = ReadSourceText(data.sources[i].path, encoding, *text, message, line);
        if (!read)
            data.errors.Add(i, line, -1,
                            line > 0 ? LineError(data.sources[i].path, line, "", message)
                                     : data.sources[i].path + " : " + message);
        readable.push_back(read);
        total += text->lines;
        data.texts.push_back(std::move(text));
    }
    progress(0, total);
    for (std::size_t i = 0; i < data.sources.size(); ++i)
        if (readable[i])
            FileReader(data, i, progress, total).Read(*data.texts[i]);
}
