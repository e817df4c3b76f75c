SELECT 'a'' /* x' + [b]]c] + "q""r" -- c
/* /* n */ */ FROM t WHERE s LIKE N'%ё%'