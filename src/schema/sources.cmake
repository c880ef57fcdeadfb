target_sources(corvane PRIVATE)
