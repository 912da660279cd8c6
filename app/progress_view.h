#pragma once

#include <QString>

// A modal window that shows how far a long step has come and lets the user ask
// to stop it. Lives as long as the step; closing it is the owner's destruction.
class ProgressView
{
public:
    virtual ~ProgressView() = default;

    // Shows `label` (for example "Alignement des images : 7 / 24") and the bar at value / total.
    virtual void set_progress(const QString& label, int value, int total) = 0;
    // True once the user pressed "Annuler".
    virtual bool cancelled() const = 0;
};
