// A second program that keeps every other program from writing one table
// file, as a workstation in the middle of a long write does.
//   lock_writes <table file>
// Takes the file's write lock (BEGIN IMMEDIATE), prints "ready" (or
// "failed: <message>" and exits 1), holds it until a line or end of input
// arrives on stdin, then lets go without changing anything.
#include <sqlite3.h>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: lock_writes <table file>\n");
        return 2;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::printf("failed: %s\n", db ? sqlite3_errmsg(db) : "out of memory");
        return 1;
    }
    sqlite3_busy_timeout(db, 5000);
    char* error = nullptr;
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, &error) != SQLITE_OK) {
        std::printf("failed: %s\n", error ? error : "unknown error");
        sqlite3_free(error);
        sqlite3_close(db);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return 0;
}
