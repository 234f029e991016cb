// Reading the program's arguments into the command string.
#pragma once

void BuildCommandString();
