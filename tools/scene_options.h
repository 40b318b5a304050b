// Command-line options of the scene tools (orvale-k41gen, orvale-headsim):
// every SceneParams and SurveyParams field has one, parsed from a table that
// also prints the --help text.
#pragma once

#include <cstdio>

#include "scene.h"
#include "scene_file.h"

// Results of one parse step.
constexpr int kOptionUnknown = 0;  // not an option of this table
constexpr int kOptionBad = -1;     // an option of this table with a bad or missing value

// Parses argv[i] (and its value, "--name value" or "--name=value") into the
// params. Returns the arguments consumed (1 or 2), kOptionUnknown, or
// kOptionBad with a message in `why`.
int ParseSceneOption(int argc, char** argv, int i, SceneParams* p, char* why, int whySize);
int ParseSurveyOption(int argc, char** argv, int i, SurveyParams* s, char* why, int whySize);

void PrintSceneOptions(FILE* out);
void PrintSurveyOptions(FILE* out);

// Strict number parsing for option values: the whole text must be the number.
int ParseIntText(const char* text, long lo, long hi, long* out);
int ParseDoubleText(const char* text, double* out);
