-- Template of the operation record: the empty table RECORD. The day's "RECORD.db" starts as a copy of
-- it, and the factory box ships one as its first day's record.
CREATE TABLE RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT);
