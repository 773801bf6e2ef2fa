-- Template of the operation record: the empty table RECORD. The day's "RECORD.db" starts as a copy of
-- it, and the factory box ships one as its first day's record.
CREATE TABLE RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT);
-- The record page shows the latest line first: with this index a day of millions of lines is read in
-- that order as the table scrolls, instead of being sorted whole first.
CREATE INDEX RECORD_recordtime ON RECORD (recordtime);
