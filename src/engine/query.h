#pragma once
// TQuery: a query handle. It holds a statement as a list of SQL lines and a database name; Open
// runs the statement (sql_parser.h gives the language, sql_evaluator.h its meaning) and the result
// is then read like a table through TDataSet: fields in select-list order, named as the table
// names them, rows in the statement's order, the first one current. The result cannot be
// modified.
//
// The result is a copy taken when Open ran: later writes to the table file do not show until the
// query is closed and opened again, which reads the file anew when it has changed. An open query
// keeps no file open and no lock.

#include "engine/dataset.h"

#include <memory>
#include <string>
#include <vector>

namespace kelvara {

struct SqlResult;

class TQuery : public TDataSet {
public:
    TQuery();
    ~TQuery() override;

    // --- The statement. Lines are joined with a line break between them to make the statement
    // text. Changing the lines or the database name of an open query closes it first.
    const std::vector<std::string>& SQL() const { return sql_; }
    void ClearSQL();
    void AddSQL(std::string line);
    void SetSQL(std::vector<std::string> lines);
    std::string StatementText() const;
    // A folder relative table paths of the statement are taken in; empty: the working directory.
    const std::string& DatabaseName() const { return databaseName_; }
    void SetDatabaseName(std::string name);

    // Runs the statement. Throws EDatabaseError: ESqlError for a syntax error (naming position and
    // what was expected) or an unknown column ("Field 'name' not found"), and the storage's open
    // error when the table file is missing, locked or broken; the query then stays closed.
    // Opening an open query does nothing.
    void Open() override;
    // Frees the result and the fields. Never throws.
    void Close() override;

protected:
    int RowCount() const override;
    TFieldValue RowValue(int row, int fieldIndex) const override;

private:
    std::vector<std::string> sql_;
    std::string databaseName_;
    std::unique_ptr<SqlResult> result_;
};

} // namespace kelvara
