#pragma once

#include "support/batch_progress.h"

// Progress that asks to stop once `limit` images are done, as a user pressing
// "Annuler" at that moment would.
class StoppingProgress : public BatchProgress
{
public:
    explicit StoppingProgress(int limit) : limit(limit) {}

    void image_done() override
    {
        BatchProgress::image_done();
        if (done() >= limit)
            request_stop();
    }

private:
    const int limit;
};
