#pragma once

#include <QString>

struct ShotSizeMismatch;

// Why a shot of other proportions than its camera's reference cannot be
// processed, naming the shot, its camera (counted from 1) and both sizes.
QString shot_size_problem(const ShotSizeMismatch& mismatch);
