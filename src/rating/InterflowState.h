#pragma once

// What the stage does next, as the confirmation screen leaves it.
enum InterflowState : unsigned {
    // The pass is under way: when its flow ends, show the confirmation.
    InterflowStateRating = 0,
    // The user declined the confirmation: show the same flow again.
    InterflowStateReturn = 1,
    // Promoted photos remain (or the run is just starting): start a new pass with the rate set.
    InterflowStateNextStage = 2,
    // Nothing goes on: the run is over.
    InterflowStateFinished = 3,
};
