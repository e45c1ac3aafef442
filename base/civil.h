// The proleptic Gregorian calendar as day numbers since 1970-01-01: what the daily files, the
// history, the alert times and the maintenance windows all count in.
#pragma once

// Days since 1970-01-01 of a date, and whether a date exists.
long DaysFromCivil(int year, int month, int day);
bool IsRealDate(int year, int month, int day);

// The civil date of a day number since 1970-01-01: the inverse of DaysFromCivil.
struct CivilDate {
    long long Year;
    int Month;
    int Day;
};
CivilDate CivilFromDays(long long days);
