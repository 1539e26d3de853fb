// The query objects: a statement's text, its rows read at Open, and the
// columns of the current row.
#include "data/absdatabase.h"

#include "data/ansistring.h"

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

// The rows of an open SELECT, read at Open so that RecordCount is known.
struct TABSQuery::Result {
    QStringList columns;
    std::vector<std::vector<QVariant>> rows;
    std::size_t current = 0;
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

bool TABSQuery::Eof() const {
    return !result || result->current >= result->rows.size();
}

void TABSQuery::Next() {
    if (!Eof())
        ++result->current;
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
    return result ? static_cast<int>(result->rows.size()) : 0;
}

const QVariant& TABSQuery::valueAt(int index) const {
    if (Eof())
        throw EDatabaseError("La requête n'a pas de ligne courante.");
    return result->rows[result->current][static_cast<std::size_t>(index)];
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
    const QVariant& value = query->valueAt(index);
    return value.isNull() ? std::string() : ToAnsi(value.toString());
}

double TABSField::AsFloat() const {
    const QVariant& value = query->valueAt(index);
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
