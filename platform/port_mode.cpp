// Placeholder: filled in by its owner.
