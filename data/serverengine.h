// The server engine: a register in a PostgreSQL database, through one libpq session (ServerSession).
#pragma once

#include "data/engine.h"

#include <functional>
#include <memory>

class ServerSession;

class ServerEngine : public Engine {
public:
    // Asks for the password of login on server; nullopt when the user gives up.
    using PasswordPrompt = std::function<std::optional<QString>(const QString& server, const QString& login)>;
    // Connects to the database uri names; when the server wants a password that libpq's own sources (such as
    // ~/.pgpass) do not give, prompt (when set) is asked for it. Throws DatabaseError.
    static std::unique_ptr<ServerEngine> connect(const QString& uri, const PasswordPrompt& prompt = {});
    ~ServerEngine() override;

    SqlDialect dialect() const override { return SqlDialect::PostgreSQL; }
    QString name() const override;
    ServerSession& session() const { return *session_; }

    void checkRegister(Connection& c, const QString& filePassword, bool upgrade, bool wholeFile) override;
    int schemaVersion(const Connection& c) override;
    void setSchemaVersion(Connection& c, int version) override;
    QString shapeProblem(const Connection& c) override;
    QString valueProblem(const Connection&) override { return QString(); } // its column types hold only their kind

    std::unique_ptr<EngineStatement> prepare(const std::string& sql) override;
    void exec(const std::string& sql) override;
    long long lastInsertRowid() const override;
    int changes() const override;
    std::string quoteName(const QString& name) const override;
    std::string sameValueSql(const std::string& quotedColumn, bool text) const override;

    void begin() override { exec("BEGIN"); }
    void rollback() override;
    void holdWriteLock() override;
    void beginConsistentRead() override { exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"); }
    void refuseChanges() override { exec("SET default_transaction_read_only = on"); }
    void setBusyTimeout(int milliseconds) override;
    void setNoWaiting(bool on) override;
    bool changedByOthers() override;
    QString writeRefusal(bool inTransaction) override;

    void appendHistory(Connection& c, const std::vector<HistoryRecord>& records, bool thenCommit) override;

    std::string rowIdCondition(int count) const override;
    void bindRowIds(EngineStatement& s, const std::vector<long long>& ids, size_t first, size_t last) const override;
    bool answersWhole() const override { return true; }
    QStringList uniqueColumns(const QString& table) override;
    QStringList identifierTwins() override;
    std::unique_ptr<RowWriter> writeRows(Connection& c, const char* table, const std::string& columns,
                                         bool newTable) override;
    void readRows(const Connection& c, const std::string& select,
                  const std::function<void(const std::vector<RowValue>&)>& use) override;
    void settleCopiedTable(const char* table) override;
    void settleAfterBulkWrite(Connection& c) override;
    Damage wholeFileDamage(const Connection&) override { return {}; } // the server keeps its own pages

private:
    explicit ServerEngine(std::unique_ptr<ServerSession> session);
    std::unique_ptr<ServerSession> session_;
};
