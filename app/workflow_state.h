#pragma once

// The step of the calibration workflow. The values matter: in the three sticker
// steps the sticker number shown to the user is the value minus 1.
enum class WorkflowState : int
{
    Idle = 0,            // no click expected (start, or calibrated)
    AwaitColorClick = 1, // the next click picks the sticker colour and calibrates
    AwaitSticker1 = 2,   // the next clicks are the three stickers of the front pending image
    AwaitSticker2 = 3,
    AwaitSticker3 = 4,
};
