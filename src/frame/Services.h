#pragma once

class Desktop;
class Printers;
class Spreadsheet;

// The desktop services the pages use. The editor gets the real ones; tests
// hand in doubles. Pointers are not owned; printers and spreadsheet may be
// null where a build or a test has none.
struct Services
{
    Desktop *desktop = nullptr;
    Printers *printers = nullptr;
    Spreadsheet *spreadsheet = nullptr;
};
