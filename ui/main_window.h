#pragma once
// Placeholder: filled in by its owner.
