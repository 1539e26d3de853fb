// The query objects: a statement's text, its rows read at Open, and the
// columns of the current row.
#include "data/absdatabase.h"

#include "data/ansistring.h"

#include <sqlite3.h>

#include <limits>

// --- TABSStrings ------------------------------------------------------------

std::string TABSStrings::Text() const {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += '\n';
        text += lines[i];
    }
    return text;
}

// --- TABSQuery --------------------------------------------------------------

// --- TABSDatabase::Rows -----------------------------------------------------

void TABSDatabase::Rows::AddNull() {
    cells.emplace_back();
}

void TABSDatabase::Rows::AddInteger(qlonglong value) {
    Cell& cell = cells.emplace_back();
    cell.kind = Kind::Integer;
    cell.integer = value;
}

void TABSDatabase::Rows::AddReal(double value) {
    Cell& cell = cells.emplace_back();
    cell.kind = Kind::Real;
    cell.real = value;
}

void TABSDatabase::Rows::AddText(const char* utf8, std::size_t size) {
    if (size > std::numeric_limits<std::uint32_t>::max())
        throw EDatabaseError("Une valeur lue est trop longue.");
    Cell& cell = cells.emplace_back();
    cell.kind = Kind::Text;
    cell.size = std::uint32_t(size);
    cell.offset = texts.size();
    texts.append(utf8, size);
}

void TABSDatabase::Rows::AddValue(const QVariant& value) {
    if (value.isNull()) {
        AddNull();
        return;
    }
    switch (value.typeId()) {
    case QMetaType::QString: {
        const QByteArray utf8 = value.toString().toUtf8();
        AddText(utf8.constData(), std::size_t(utf8.size()));
        return;
    }
    case QMetaType::Double:
        AddReal(value.toDouble());
        return;
    case QMetaType::Int:
    case QMetaType::LongLong:
        AddInteger(value.toLongLong());
        return;
    default: {
        Cell& cell = cells.emplace_back();
        cell.kind = Kind::Other;
        cell.offset = others.size();
        others.push_back(value);
        return;
    }
    }
}

void TABSDatabase::Rows::Clear() {
    cells.clear();
    texts.clear();
    others.clear();
}

QVariant TABSDatabase::Rows::Value(std::size_t index) const {
    const Cell& cell = cells[index];
    switch (cell.kind) {
    case Kind::Integer:
        return QVariant(cell.integer);
    case Kind::Real:
        return QVariant(cell.real);
    case Kind::Text:
        return QString::fromUtf8(texts.data() + cell.offset, qsizetype(cell.size));
    case Kind::Other:
        return others[cell.offset];
    case Kind::Null:
        break;
    }
    return QVariant();
}

// --- TABSQuery --------------------------------------------------------------

// The rows of an open SELECT, read at Open so that RecordCount is known; or,
// read forward on a file, the current row alone, the statement stepping.
struct TABSQuery::Result {
    QStringList columns;
    TABSDatabase::Rows rows;
    std::size_t current = 0;
    TABSDatabase::FileStatement forward{nullptr, sqlite3_finalize};
    std::size_t RowCount() const {
        return columns.isEmpty() ? 0 : rows.CellCount() / std::size_t(columns.size());
    }
};

TABSQuery::TABSQuery(TABSDatabase* owner)
    : QObject(owner) {}

TABSQuery::~TABSQuery() = default;

TABSDatabase* TABSQuery::database() const {
    auto* db = qobject_cast<TABSDatabase*>(parent());
    if (!db)
        throw EDatabaseError("La requête n'a pas de base de données.");
    if (DatabaseName != db->DatabaseName)
        throw EDatabaseError("La base de données « " + DatabaseName + " » est inconnue.");
    return db;
}

std::string TABSQuery::prepareText() const {
    const std::string text = SQL.Text();
    TABSDatabase* db = database();
    db->Connection();
    db->trace(text);
    return text;
}

void TABSQuery::Open() {
    Close();
    TABSDatabase* db = database();
    auto fetched = std::make_unique<Result>();
    db->Select(prepareText(), fetched->columns, fetched->rows);
    result = std::move(fetched);
}

void TABSQuery::OpenForward() {
    Close();
    TABSDatabase* db = database();
    const std::string text = prepareText();
    auto fetched = std::make_unique<Result>();
    if (!db->fileHandle) {
        db->Select(text, fetched->columns, fetched->rows);
    } else {
        fetched->forward = db->prepareOnFile(text, fetched->columns);
        db->stepOnFile(fetched->forward.get(), fetched->rows);
    }
    result = std::move(fetched);
}

bool TABSQuery::Eof() const {
    return !result || result->current >= result->RowCount();
}

void TABSQuery::Next() {
    if (Eof())
        return;
    if (!result->forward) {
        ++result->current;
        return;
    }
    // A step that fails adds no cell: the query is then at its end.
    result->rows.Clear();
    database()->stepOnFile(result->forward.get(), result->rows);
}

TABSField TABSQuery::FieldByName(const std::string& name) const {
    if (!result)
        throw EDatabaseError("La requête n'est pas ouverte.");
    const QString wanted = FromAnsi(name);
    for (int i = 0; i < result->columns.size(); ++i)
        if (result->columns[i].compare(wanted, Qt::CaseInsensitive) == 0)
            return TABSField(this, i);
    throw EDatabaseError("Champ introuvable : " + name);
}

int TABSQuery::RecordCount() const {
    return result && !result->forward ? static_cast<int>(result->RowCount()) : 0;
}

QVariant TABSQuery::valueAt(int index) const {
    if (Eof())
        throw EDatabaseError("La requête n'a pas de ligne courante.");
    return result->rows.Value(result->current * std::size_t(result->columns.size()) +
                              std::size_t(index));
}

void TABSQuery::Close() {
    result.reset();
}

void TABSQuery::ExecSQL() {
    Close();
    TABSDatabase* db = database();
    db->Execute(prepareText(), true, false);
}

// --- TABSField --------------------------------------------------------------

TABSField::TABSField(const TABSQuery* query, int index)
    : query(query)
    , index(index) {}

std::string TABSField::AsAnsiString() const {
    const QVariant value = query->valueAt(index);
    return value.isNull() ? std::string() : ToAnsi(value.toString());
}

double TABSField::AsFloat() const {
    const QVariant value = query->valueAt(index);
    if (value.isNull())
        return 0.0;
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok ? number : 0.0;
}

std::unique_ptr<TABSQuery> NewQuery(TABSDatabase* database, const std::string& statement) {
    if (!database)
        throw EDatabaseError("Aucune base de données n'est associée à cette fenêtre.");
    auto query = std::make_unique<TABSQuery>(database);
    query->DatabaseName = database->DatabaseName;
    query->SQL.Add(statement);
    return query;
}
